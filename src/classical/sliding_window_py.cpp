// SlidingWindowDecoder: stream rounds decoded through a decaying window.
#include "classical/sliding_window.h"
#include "module/binding.h"
#include "module/registry.h"

namespace vornex::py {

ModuleItem& sliding_window_decoder_class() {
    using D = SlidingWindowDecoder;
    static ClassSpec spec =
        ClassSpec::of<construct_with<D, &D::create>>(
            "SlidingWindowDecoder(check_to_qubits, n_qubits=None, window_size=10, decay_factor=0.8)")
            .class_method<from_check_matrix_with<D, &D::create>>(
                "from_check_matrix($type, check_matrix, *, window_size=10, decay_factor=0.8)", kFromCheckMatrixDoc)
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
