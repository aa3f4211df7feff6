// FastUnionFindDecoder: the fast-path Union-Find decoder.
#include "module/binding.h"
#include "module/registry.h"
#include "uf/fast_uf.h"

namespace vornex::py {

ModuleItem& fast_union_find_decoder_class() {
    using D = FastUnionFindDecoder;
    static ClassSpec spec =
        ClassSpec::of<construct_from_code<D>>("FastUnionFindDecoder(check_to_qubits, n_qubits)")
            .with(check_matrix_constructor<D>,
                  decode_methods<D, "Invalid syndrome: ", "Invalid syndromes: ", Syndrome::LengthFirst>, size_getters<D>);
    return spec;
}

}  // namespace vornex::py
