// CUDABatchDecoder and cuda_is_available: the GPU batch decoder with its CPU
// fallback. The object belongs to the thread that made it, because the
// device context it drives is made current per call on that thread.
#include <thread>

#include "gpu/cuda_batch.h"
#include "module/binding.h"
#include "module/registry.h"
#include "module/syndrome_arrays.h"

namespace vornex::py {
namespace {

constexpr const char* kTypePath = "vornex_decoder_v3::cuda_python::PyCUDABatchDecoder";

void require_owner_thread(const CudaBatchDecoder& decoder) {
    if (decoder.owner_thread() != std::this_thread::get_id())
        raise(panic_exception_type(), std::string(kTypePath) + " is unsendable, but sent to another thread");
}

PyObject* batch_decode(const CudaBatchDecoder& decoder, const Args& args) {
    require_owner_thread(decoder);
    auto view = args.u8_array(0, -1);
    const SyndromeRows rows = syndrome_rows(view, decoder.n_checks(), "Invalid syndromes: ");
    return to_array(unwrap(decoder.batch_decode(rows.bytes, rows.n_shots)),
                    {static_cast<npy_intp>(rows.n_shots), static_cast<npy_intp>(decoder.n_qubits())});
}

PyObject* reset(const CudaBatchDecoder& decoder, const Args&) {
    require_owner_thread(decoder);
    decoder.reset();
    return py_none();
}

PyObject* is_available(const Args&) { return py_bool(cuda_available()); }

template <auto Get>
PyObject* owned(const CudaBatchDecoder& decoder) {
    require_owner_thread(decoder);
    return py_value((decoder.*Get)());
}

}  // namespace

ModuleItem& cuda_batch_decoder_class() {
    static ClassSpec spec =
        ClassSpec::of<construct_from_code<CudaBatchDecoder>>("CUDABatchDecoder(check_to_qubits, n_qubits)")
            .method<batch_decode>("batch_decode($self, syndromes)")
            .static_method<is_available>("is_available()")
            .method<reset>("reset($self)")
            .getter<owned<&CudaBatchDecoder::n_qubits>>("n_qubits")
            .getter<owned<&CudaBatchDecoder::n_checks>>("n_checks")
            .getter<owned<&CudaBatchDecoder::device_name>>("device_name")
            .getter<owned<&CudaBatchDecoder::compute_capability>>("compute_capability")
            .getter<owned<&CudaBatchDecoder::consecutive_failures>>("consecutive_failures")
            .getter<owned<&CudaBatchDecoder::total_failures>>("total_failures")
            .getter<owned<&CudaBatchDecoder::is_degraded>>("is_degraded")
            .getter<owned<&CudaBatchDecoder::gpu_recoveries>>("gpu_recoveries");
    return spec;
}

ModuleItem& cuda_is_available_function() {
    static FunctionSpec spec = FunctionSpec::of<is_available>("cuda_is_available()");
    return spec;
}

}  // namespace vornex::py
