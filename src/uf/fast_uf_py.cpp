// FastUnionFindDecoder: the fast-path Union-Find decoder.
#include "module/binding.h"
#include "module/registry.h"
#include "module/syndrome_arrays.h"
#include "uf/fast_uf.h"

namespace vornex::py {
namespace {

std::unique_ptr<FastUnionFindDecoder> construct(const Args& args) {
    auto checks = args.get<CheckList>(0);
    auto n_qubits = args.get<std::optional<uint64_t>>(1);
    return std::make_unique<FastUnionFindDecoder>(
        unwrap(FastUnionFindDecoder::create(std::move(checks), n_qubits)));
}

PyObject* decode(const FastUnionFindDecoder& decoder, const Args& args) {
    auto view = args.u8_array(0, 1);
    const auto syndrome = syndrome_bytes(view, "Invalid syndrome: ");
    unwrap(decoder.check_syndrome_length(syndrome.size()));
    return to_array(decoder.decode(syndrome));
}

PyObject* batch_decode(const FastUnionFindDecoder& decoder, const Args& args) {
    auto view = args.u8_array(0, -1);
    const SyndromeRows rows = syndrome_rows(view, decoder.n_checks(), "Invalid syndromes: ");
    return to_array(decoder.batch_decode(rows.bytes, rows.n_shots),
                    {static_cast<npy_intp>(rows.n_shots), static_cast<npy_intp>(decoder.n_qubits())});
}

PyObject* n_qubits(const FastUnionFindDecoder& decoder) { return py_int(decoder.n_qubits()); }
PyObject* n_checks(const FastUnionFindDecoder& decoder) { return py_int(decoder.n_checks()); }

}  // namespace

ModuleItem& fast_union_find_decoder_class() {
    static ClassSpec spec = ClassSpec::of<construct>("FastUnionFindDecoder(check_to_qubits, n_qubits)")
                                .method<decode>("decode($self, syndrome)")
                                .method<batch_decode>("batch_decode($self, syndromes)")
                                .getter<n_qubits>("n_qubits")
                                .getter<n_checks>("n_checks");
    return spec;
}

}  // namespace vornex::py
