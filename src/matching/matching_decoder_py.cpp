// MatchingDecoder: exact minimum-weight matching on the sparse engine. All
// methods read the decoder only (scratch lives on the calling thread), so
// they share the object.
#include "matching/matching_decoder.h"
#include "module/binding.h"
#include "module/registry.h"

namespace vornex::py {

ModuleItem& matching_decoder_class() {
    using D = MatchingDecoder;
    static ClassSpec spec =
        ClassSpec::of<construct_from_code<D>>("MatchingDecoder(check_to_qubits, n_qubits, *, weights=None)")
            .with(weighted_check_matrix_constructor<D>, model_constructor<D>,
                  decode_methods<D, "Invalid syndrome: ", "Invalid syndromes: ">, observable_predictions<D>,
                  size_getters<D>)
            .getter<&D::num_observables>("num_observables");
    return spec;
}

}  // namespace vornex::py
