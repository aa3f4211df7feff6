// UnionFindDecoder: the reference Union-Find decoder.
#include "module/binding.h"
#include "module/registry.h"
#include "uf/decoder.h"

namespace vornex::py {

ModuleItem& union_find_decoder_class() {
    using D = UnionFindDecoder;
    static ClassSpec spec =
        check_graph_class<D>("UnionFindDecoder(check_to_qubits, n_qubits)")
            .with(model_constructor<D>,
                  decode_methods<D, "Invalid syndrome array: ", "Invalid syndromes array: ", Syndrome::LengthFirst>,
                  observable_predictions<D>, size_getters<D>);
    return spec;
}

}  // namespace vornex::py
