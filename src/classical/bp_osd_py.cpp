// BPOSDDecoder: min-sum BP with OSD post-processing. Every method reuses the
// object's BP and OSD workspaces, so each holds the object exclusively.
#include "classical/bp_osd.h"
#include "module/binding.h"
#include "module/registry.h"

namespace vornex::py {
namespace {

std::unique_ptr<BpOsdDecoder> construct(const Args& args) {
    auto checks = args.get<CheckList>(0);
    auto n_qubits = args.get<std::optional<uint64_t>>(1);
    const double error_rate = args.get<double>(2);
    return std::make_unique<BpOsdDecoder>(unwrap(BpOsdDecoder::create(std::move(checks), n_qubits, error_rate)));
}

}  // namespace

ModuleItem& bp_osd_decoder_class() {
    using D = BpOsdDecoder;
    static ClassSpec spec =
        ClassSpec::of<construct>("BPOSDDecoder(check_to_qubits, n_qubits, error_rate)")
            .method<decode_method<&D::decode, "Invalid syndrome: ">>("decode($self, syndrome)")
            .method<decode_method<&D::decode_timed, "Invalid syndrome: ">>(
                "decode_timed($self, syndrome, max_latency_ms)")
            .method<decode_method<&D::bp_decode, "Invalid syndrome: ">>("bp_decode($self, syndrome, max_iterations)")
            .getter<&D::n_qubits>("n_qubits")
            .getter<&D::n_checks>("n_checks");
    return spec;
}

}  // namespace vornex::py
