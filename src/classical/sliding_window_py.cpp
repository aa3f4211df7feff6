// SlidingWindowDecoder: stream rounds decoded through a decaying window.
#include "classical/sliding_window.h"
#include "module/binding.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

constexpr uint64_t kDefaultWindowSize = 10;
constexpr double kDefaultDecayFactor = 0.8;

std::unique_ptr<SlidingWindowDecoder> construct(const Args& args) {
    auto checks = args.get<CheckList>(0);
    auto n_qubits = args.get<std::optional<uint64_t>>(1);
    // Omitted parameters take their defaults; an explicit None is not an int.
    const uint64_t window_size = args[2] ? args.get<uint64_t>(2) : kDefaultWindowSize;
    const double decay_factor = args[3] ? args.get<double>(3) : kDefaultDecayFactor;
    return std::make_unique<SlidingWindowDecoder>(
        unwrap(SlidingWindowDecoder::create(std::move(checks), n_qubits, window_size, decay_factor)));
}

}  // namespace

ModuleItem& sliding_window_decoder_class() {
    using D = SlidingWindowDecoder;
    static ClassSpec spec =
        ClassSpec::of<construct>(
            "SlidingWindowDecoder(check_to_qubits, n_qubits=None, window_size=10, decay_factor=0.8)")
            .method<decode_method<&D::update, "Invalid syndrome: ">>("update($self, round_syndrome)")
            .method<plain_method<&D::flush>>("flush($self)")
            .method<decode_method<&D::decode, "Invalid syndrome: ">>("decode($self, syndrome)")
            .getter<&D::n_qubits>("n_qubits")
            .getter<&D::n_checks>("n_checks")
            .getter<&D::window_size>("window_size")
            .getter<&D::decay_factor>("decay_factor")
            .getter<&D::current_round>("current_round");
    return spec;
}

}  // namespace vornex::py
