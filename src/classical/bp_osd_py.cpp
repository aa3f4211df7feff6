// BPOSDDecoder: min-sum BP with OSD post-processing. Every method reuses the
// object's BP and OSD workspaces, so each holds the object exclusively.
#include "classical/bp_osd.h"
#include "module/binding.h"
#include "module/registry.h"
#include "module/syndrome_arrays.h"

namespace vornex::py {
namespace {

constexpr const char* kInvalidSyndrome = "Invalid syndrome: ";

std::unique_ptr<BpOsdDecoder> construct(const Args& args) {
    auto checks = args.get<CheckList>(0);
    auto n_qubits = args.get<std::optional<uint64_t>>(1);
    const double error_rate = args.get<double>(2);
    return std::make_unique<BpOsdDecoder>(unwrap(BpOsdDecoder::create(std::move(checks), n_qubits, error_rate)));
}

PyObject* decode(BpOsdDecoder& decoder, const Args& args) {
    auto view = args.u8_array(0, 1);
    return to_array(unwrap(decoder.decode(syndrome_bytes(view, kInvalidSyndrome))));
}

PyObject* decode_timed(BpOsdDecoder& decoder, const Args& args) {
    auto view = args.u8_array(0, 1);
    const double max_latency_ms = args.get<double>(1);
    return to_array(unwrap(decoder.decode_timed(syndrome_bytes(view, kInvalidSyndrome), max_latency_ms)));
}

PyObject* bp_decode(BpOsdDecoder& decoder, const Args& args) {
    auto view = args.u8_array(0, 1);
    const uint64_t max_iterations = args.get<uint64_t>(1);
    return to_array(unwrap(decoder.bp_decode(syndrome_bytes(view, kInvalidSyndrome), max_iterations)));
}

}  // namespace

ModuleItem& bp_osd_decoder_class() {
    static ClassSpec spec = ClassSpec::of<construct>("BPOSDDecoder(check_to_qubits, n_qubits, error_rate)")
                                .method<decode>("decode($self, syndrome)")
                                .method<decode_timed>("decode_timed($self, syndrome, max_latency_ms)")
                                .method<bp_decode>("bp_decode($self, syndrome, max_iterations)")
                                .getter<&BpOsdDecoder::n_qubits>("n_qubits")
                                .getter<&BpOsdDecoder::n_checks>("n_checks");
    return spec;
}

}  // namespace vornex::py
