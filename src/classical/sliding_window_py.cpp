// SlidingWindowDecoder: stream rounds decoded through a decaying window.
#include "classical/sliding_window.h"
#include "module/binding.h"
#include "module/registry.h"
#include "module/syndrome_arrays.h"

namespace vornex::py {
namespace {

constexpr uint64_t kDefaultWindowSize = 10;
constexpr double kDefaultDecayFactor = 0.8;
constexpr const char* kInvalidSyndrome = "Invalid syndrome: ";

std::unique_ptr<SlidingWindowDecoder> construct(const Args& args) {
    auto checks = args.get<CheckList>(0);
    auto n_qubits = args.get<std::optional<uint64_t>>(1);
    // Omitted parameters take their defaults; an explicit None is not an int.
    const uint64_t window_size = args[2] ? args.get<uint64_t>(2) : kDefaultWindowSize;
    const double decay_factor = args[3] ? args.get<double>(3) : kDefaultDecayFactor;
    return std::make_unique<SlidingWindowDecoder>(
        unwrap(SlidingWindowDecoder::create(std::move(checks), n_qubits, window_size, decay_factor)));
}

PyObject* update(SlidingWindowDecoder& decoder, const Args& args) {
    auto view = args.u8_array(0, 1);
    return to_array(unwrap(decoder.update(syndrome_bytes(view, kInvalidSyndrome))));
}

PyObject* flush(SlidingWindowDecoder& decoder, const Args&) {
    decoder.flush();
    return py_none();
}

PyObject* decode(const SlidingWindowDecoder& decoder, const Args& args) {
    auto view = args.u8_array(0, 1);
    return to_array(unwrap(decoder.decode(syndrome_bytes(view, kInvalidSyndrome))));
}

}  // namespace

ModuleItem& sliding_window_decoder_class() {
    static ClassSpec spec =
        ClassSpec::of<construct>(
            "SlidingWindowDecoder(check_to_qubits, n_qubits=None, window_size=10, decay_factor=0.8)")
            .method<update>("update($self, round_syndrome)")
            .method<flush>("flush($self)")
            .method<decode>("decode($self, syndrome)")
            .getter<&SlidingWindowDecoder::n_qubits>("n_qubits")
            .getter<&SlidingWindowDecoder::n_checks>("n_checks")
            .getter<&SlidingWindowDecoder::window_size>("window_size")
            .getter<&SlidingWindowDecoder::decay_factor>("decay_factor")
            .getter<&SlidingWindowDecoder::current_round>("current_round");
    return spec;
}

}  // namespace vornex::py
