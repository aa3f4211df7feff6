// StreamingDecoder: stream rounds decoded through the OR of a ring of rounds.
#include "module/binding.h"
#include "module/registry.h"
#include "uf/stream/streaming.h"

namespace vornex::py {
namespace {

std::unique_ptr<StreamingDecoder> construct(const Args& args) {
    warn_if_check_matrix(args);
    auto checks = args.get<CheckList>(0);
    auto n_qubits = args.get<std::optional<uint64_t>>(1);
    const uint64_t history_size = args.get<std::optional<uint64_t>>(2).value_or(kDefaultHistorySize);
    return std::make_unique<StreamingDecoder>(
        unwrap(StreamingDecoder::create(std::move(checks), n_qubits, history_size)));
}

}  // namespace

ModuleItem& streaming_decoder_class() {
    using D = StreamingDecoder;
    static ClassSpec spec =
        ClassSpec::of<construct>("StreamingDecoder(check_to_qubits, n_qubits, history_size)")
            .class_method<from_check_matrix_with<D, &D::create>>(
                "from_check_matrix($type, check_matrix, *, history_size=10)", kFromCheckMatrixDoc)
            .with(round_stream_methods<D>)
            .with(size_getters<D>);
    return spec;
}

}  // namespace vornex::py
