// The kernel text compiled as plain C++ for the host, for tests and
// benchmarks that run it without a GPU: the CUDA qualifiers are defined away
// and the launch indices are per host thread, so GPU threads can run side
// by side. Everything lands in namespace vornex::kernel_text.
#pragma once

namespace vornex::kernel_text {

struct Dim3 {
    unsigned x = 0;
};
inline thread_local Dim3 blockIdx, blockDim, threadIdx;

#define __global__ inline
#define __device__ inline
#define VORNEX_KERNEL_TEXT(...) __VA_ARGS__
#include "gpu/vornex_cuda_kernels.cu"
#undef VORNEX_KERNEL_TEXT
#undef __device__
#undef __global__

}  // namespace vornex::kernel_text
