// MatchingDecoder: exact minimum-weight matching on the sparse engine. All
// methods read the decoder only (scratch lives on the calling thread), so
// they share the object.
#include "classical/model_argument_py.h"
#include "matching/matching_decoder.h"
#include "module/binding.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

std::unique_ptr<MatchingDecoder> construct(const Args& args) {
    auto checks = args.get<CheckList>(0);
    auto n_qubits = args.get<std::optional<uint64_t>>(1);
    auto weights = args.get<std::optional<std::vector<double>>>(2);
    return std::make_unique<MatchingDecoder>(
        unwrap(MatchingDecoder::create(std::move(checks), n_qubits, std::move(weights))));
}

std::unique_ptr<MatchingDecoder> from_detector_error_model(const Args& args) {
    const std::string text = model_text_argument(args[0]);
    return std::make_unique<MatchingDecoder>(unwrap(MatchingDecoder::from_detector_error_model(text)));
}

PyObject* predict_observables(const MatchingDecoder& decoder, const Args& args) {
    auto view = args.u8_array(0, 1);
    const bool packed = args.get<std::optional<bool>>(1).value_or(false);
    const auto events = syndrome_bytes(view, "Invalid detection events: ");
    return to_array(unwrap(decoder.predict_observables(events, 1, packed, false)));
}

PyObject* predict_observables_batch(const MatchingDecoder& decoder, const Args& args) {
    auto view = args.u8_array(0, 2);
    const bool packed = args.get<std::optional<bool>>(1).value_or(false);
    const auto events = syndrome_bytes(view, "Invalid detection events: ");
    const size_t n_shots = array_shape(view)[0];
    const size_t width = packed ? (decoder.num_observables() + 7) / 8 : decoder.num_observables();
    auto rows = unwrap(decoder.predict_observables(events, n_shots, packed, true));
    return to_array(std::move(rows), {static_cast<npy_intp>(n_shots), static_cast<npy_intp>(width)});
}

}  // namespace

ModuleItem& matching_decoder_class() {
    using D = MatchingDecoder;
    static ClassSpec spec =
        ClassSpec::of<construct>("MatchingDecoder(check_to_qubits, n_qubits, *, weights=None)")
            .class_method<from_detector_error_model>("from_detector_error_model($type, model)")
            .method<decode_method<&D::decode, "Invalid syndrome: ">>("decode($self, syndrome)")
            .method<batch_method<&D::batch_decode, "Invalid syndromes: ">>("batch_decode($self, syndromes)")
            .method<predict_observables>("predict_observables($self, detection_events, *, bit_packed=False)")
            .method<predict_observables_batch>(
                "predict_observables_batch($self, detection_events, *, bit_packed=False)")
            .getter<&D::n_qubits>("n_qubits")
            .getter<&D::n_checks>("n_checks")
            .getter<&D::num_observables>("num_observables");
    return spec;
}

}  // namespace vornex::py
