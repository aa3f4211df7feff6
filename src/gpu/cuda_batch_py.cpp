// CUDABatchDecoder and cuda_is_available: the GPU batch decoder with its CPU
// fallback. The object belongs to the thread that made it, because the
// device context it drives is made current per call on that thread.
#include "gpu/cuda_batch.h"
#include "module/binding.h"
#include "module/registry.h"

namespace vornex::py {

// One GPU attempt per call (chunked inside it): its failure counters count calls.
template <>
inline constexpr bool kBatchInOneCall<CudaBatchDecoder> = true;

namespace {

constexpr const char* kTypePath = "vornex_decoder_v3::cuda_python::PyCUDABatchDecoder";

PyObject* is_available(const Args&) { return py_bool(cuda_available()); }

// Its own entry point: argument errors name the callable by its signature,
// which is kept per entry point, so sharing one with the module function
// would make the static method report itself as cuda_is_available.
PyObject* static_is_available(const Args& args) { return is_available(args); }

}  // namespace

ModuleItem& cuda_batch_decoder_class() {
    static ClassSpec spec =
        check_graph_class<CudaBatchDecoder>("CUDABatchDecoder(check_to_qubits, n_qubits)")
            .bound_to_thread(kTypePath)
            .method<batch_method<&CudaBatchDecoder::batch_decode, "Invalid syndromes: ">>(
                "batch_decode($self, syndromes)")
            .static_method<static_is_available>("is_available()")
            .method<plain_method<&CudaBatchDecoder::reset>>("reset($self)")
            .with(size_getters<CudaBatchDecoder>)
            .getter<&CudaBatchDecoder::device_name>("device_name")
            .getter<&CudaBatchDecoder::compute_capability>("compute_capability")
            .getter<&CudaBatchDecoder::consecutive_failures>("consecutive_failures")
            .getter<&CudaBatchDecoder::total_failures>("total_failures")
            .getter<&CudaBatchDecoder::is_degraded>("is_degraded")
            .getter<&CudaBatchDecoder::gpu_recoveries>("gpu_recoveries")
            .getter<&CudaBatchDecoder::degraded_reason>("degraded_reason");
    return spec;
}

ModuleItem& cuda_is_available_function() { return function_item<is_available>("cuda_is_available()"); }

}  // namespace vornex::py
