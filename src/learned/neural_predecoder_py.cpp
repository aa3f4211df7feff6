// NeuralPredecoder: a perceptron predecoder trained in place by the caller.
#include "learned/neural_predecoder.h"
#include "module/binding.h"
#include "module/released_work.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

PyObject* train(NeuralPredecoder& net, const Args& args) {
    auto syndromes = args.u8_array(0, -1);
    auto corrections = args.u8_array(1, -1);
    const auto n_epochs = args.get<uint64_t>(2);
    const auto learning_rate = args.get<double>(3);
    const auto s = syndrome_bytes(syndromes, "Invalid syndromes: ");
    const auto c = syndrome_bytes(corrections, "Invalid corrections: ");
    unwrap(with_progress(args[4],
                         [&](ProgressSink* progress) { return net.train(s, c, n_epochs, learning_rate, progress); }));
    return py_none();
}

}  // namespace

ModuleItem& neural_predecoder_class() {
    static ClassSpec spec =
        ClassSpec::of<construct_with<NeuralPredecoder, &NeuralPredecoder::create>>(
            "NeuralPredecoder(n_input, n_output, n_hidden1, n_hidden2)")
            .method<train>("train($self, syndromes, corrections, n_epochs, learning_rate, *, progress=None)")
            .method<decode_method<&NeuralPredecoder::predict, "Invalid syndrome: ", Syndrome::AnyRank>>(
                "predict($self, syndrome)")
            .method<decode_method<&NeuralPredecoder::decode, "Invalid syndrome: ", Syndrome::AnyRank>>(
                "decode($self, syndrome)")
            .getter<&NeuralPredecoder::n_input>("n_input")
            .getter<&NeuralPredecoder::n_output>("n_output")
            .getter<&NeuralPredecoder::n_hidden1>("n_hidden1")
            .getter<&NeuralPredecoder::n_hidden2>("n_hidden2");
    return spec;
}

}  // namespace vornex::py
