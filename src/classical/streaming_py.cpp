// StreamingDecoder: stream rounds decoded through the OR of a ring of rounds.
#include "classical/streaming.h"
#include "module/binding.h"
#include "module/registry.h"
#include "module/syndrome_arrays.h"

namespace vornex::py {
namespace {

constexpr const char* kInvalidSyndrome = "Invalid syndrome: ";

std::unique_ptr<StreamingDecoder> construct(const Args& args) {
    auto checks = args.get<CheckList>(0);
    auto n_qubits = args.get<std::optional<uint64_t>>(1);
    const uint64_t history_size = args.get<std::optional<uint64_t>>(2).value_or(kDefaultHistorySize);
    return std::make_unique<StreamingDecoder>(
        unwrap(StreamingDecoder::create(std::move(checks), n_qubits, history_size)));
}

PyObject* update(StreamingDecoder& decoder, const Args& args) {
    auto view = args.u8_array(0, 1);
    return to_array(unwrap(decoder.update(syndrome_bytes(view, kInvalidSyndrome))));
}

PyObject* flush(StreamingDecoder& decoder, const Args&) {
    decoder.flush();
    return py_none();
}

PyObject* decode(const StreamingDecoder& decoder, const Args& args) {
    auto view = args.u8_array(0, 1);
    return to_array(unwrap(decoder.decode(syndrome_bytes(view, kInvalidSyndrome))));
}

}  // namespace

ModuleItem& streaming_decoder_class() {
    static ClassSpec spec = ClassSpec::of<construct>("StreamingDecoder(check_to_qubits, n_qubits, history_size)")
                                .method<update>("update($self, round_syndrome)")
                                .method<flush>("flush($self)")
                                .method<decode>("decode($self, syndrome)")
                                .getter<&StreamingDecoder::n_qubits>("n_qubits")
                                .getter<&StreamingDecoder::n_checks>("n_checks");
    return spec;
}

}  // namespace vornex::py
