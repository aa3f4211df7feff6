// UnionFindDecoder: the reference Union-Find decoder.
#include "module/binding.h"
#include "module/registry.h"
#include "module/syndrome_arrays.h"
#include "uf/decoder.h"

namespace vornex::py {
namespace {

PyObject* decode(const UnionFindDecoder& decoder, const Args& args) {
    auto view = args.u8_array(0, 1);
    const auto syndrome = syndrome_bytes(view, "Invalid syndrome array: ");
    unwrap(decoder.check_syndrome_length(syndrome.size()));
    return to_array(unwrap(decoder.decode(syndrome)));
}

PyObject* batch_decode(const UnionFindDecoder& decoder, const Args& args) {
    auto view = args.u8_array(0, -1);
    const SyndromeRows rows = syndrome_rows(view, decoder.n_checks(), "Invalid syndromes array: ");
    return to_array(decoder.batch_decode(rows.bytes, rows.n_shots),
                    {static_cast<npy_intp>(rows.n_shots), static_cast<npy_intp>(decoder.n_qubits())});
}

}  // namespace

ModuleItem& union_find_decoder_class() {
    static ClassSpec spec = ClassSpec::of<construct_from_code<UnionFindDecoder>>("UnionFindDecoder(check_to_qubits, n_qubits)")
                                .method<decode>("decode($self, syndrome)")
                                .method<batch_decode>("batch_decode($self, syndromes)")
                                .getter<&UnionFindDecoder::n_qubits>("n_qubits")
                                .getter<&UnionFindDecoder::n_checks>("n_checks");
    return spec;
}

}  // namespace vornex::py
