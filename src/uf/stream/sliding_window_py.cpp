// SlidingWindowDecoder: stream rounds decoded through a decaying window.
#include "module/binding.h"
#include "module/registry.h"
#include "uf/stream/sliding_window.h"

namespace vornex::py {

ModuleItem& sliding_window_decoder_class() {
    using D = SlidingWindowDecoder;
    static ClassSpec spec =
        ClassSpec::of<construct_with<D, &D::create>>(
            "SlidingWindowDecoder(check_to_qubits, n_qubits=None, window_size=10, decay_factor=0.8)")
            .class_method<from_check_matrix_with<D, &D::create>>(
                "from_check_matrix($type, check_matrix, *, window_size=10, decay_factor=0.8)", kFromCheckMatrixDoc)
            .with(round_stream_methods<D>)
            .with(size_getters<D>)
            .getter<&D::window_size>("window_size")
            .getter<&D::decay_factor>("decay_factor")
            .getter<&D::current_round>("current_round");
    return spec;
}

}  // namespace vornex::py
