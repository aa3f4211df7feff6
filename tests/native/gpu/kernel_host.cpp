#include "gpu/kernel_host.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace vornex::testing::kernel_text {

struct Dim3 {
    unsigned x = 0;
};
Dim3 blockIdx, blockDim, threadIdx;

// The CUDA qualifiers mean nothing on the host.
#define __global__
#define __device__ inline
#define VORNEX_KERNEL_TEXT(...) __VA_ARGS__
#include "gpu/vornex_cuda_kernels.cu"
#undef VORNEX_KERNEL_TEXT
#undef __device__
#undef __global__

}  // namespace vornex::testing::kernel_text

namespace vornex::testing {
namespace {

template <class T>
T arg(void** params, int i) {
    return *static_cast<T*>(params[i]);
}

template <class T>
T* ptr_arg(void** params, int i) {
    return reinterpret_cast<T*>(static_cast<uintptr_t>(arg<unsigned long long>(params, i)));
}

constexpr size_t kGuard = 64;
constexpr uint8_t kCanary = 0xA5;

// A buffer with canary bytes behind its end.
template <class T>
struct Guarded {
    explicit Guarded(size_t n) : n(n), bytes(n * sizeof(T) + kGuard, kCanary) {}
    T* data() { return reinterpret_cast<T*>(bytes.data()); }
    bool intact() const {
        return std::all_of(bytes.end() - kGuard, bytes.end(), [](uint8_t b) { return b == kCanary; });
    }
    size_t n;
    std::vector<uint8_t> bytes;
};

}  // namespace

void launch_kernel_on_host(unsigned grid, unsigned block, void** params) {
    using namespace kernel_text;
    blockDim.x = block;
    for (unsigned b = 0; b < grid; ++b) {
        blockIdx.x = b;
        for (unsigned t = 0; t < block; ++t) {
            threadIdx.x = t;
            uf_decode_batch_cuda(ptr_arg<const vx_u8>(params, 0), ptr_arg<const vx_u32>(params, 1),
                                 ptr_arg<const vx_u32>(params, 2), ptr_arg<const vx_u32>(params, 3),
                                 ptr_arg<vx_u8>(params, 4), ptr_arg<vx_u32>(params, 5), ptr_arg<vx_u8>(params, 6),
                                 arg<vx_u32>(params, 7), arg<vx_u32>(params, 8), arg<vx_u32>(params, 9),
                                 arg<vx_u32>(params, 10), arg<vx_u32>(params, 11));
        }
    }
}

std::vector<uint8_t> kernel_decode(const CheckGraph& graph, const uint8_t* syndromes, size_t batch) {
    const size_t n = graph.n_nodes, e = graph.edges.size();
    Guarded<uint8_t> syn(batch * graph.n_checks);
    std::copy(syndromes, syndromes + batch * graph.n_checks, syn.data());
    Guarded<uint32_t> ea(e), eb(e), eq(e);
    for (size_t i = 0; i < e; ++i) {
        ea.data()[i] = graph.edges[i].a;
        eb.data()[i] = graph.edges[i].b;
        eq.data()[i] = graph.edges[i].q;
    }
    Guarded<uint8_t> corr(batch * graph.n_qubits);
    Guarded<uint32_t> s32(batch * (6 * n + 1 + 4 * e));
    Guarded<uint8_t> s8(batch * (5 * n + e));
    // Stale bytes everywhere: the kernel must initialise what it reads.
    std::fill(corr.data(), corr.data() + corr.n, uint8_t{7});
    std::fill(s32.data(), s32.data() + s32.n, 0xDEADBEEFu);
    std::fill(s8.data(), s8.data() + s8.n, uint8_t{0xCC});

    auto addr = [](const void* p) { return static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(p)); };
    unsigned long long p_syn = addr(syn.data()), p_ea = addr(ea.data()), p_eb = addr(eb.data()),
                       p_eq = addr(eq.data()), p_corr = addr(corr.data()), p_s32 = addr(s32.data()),
                       p_s8 = addr(s8.data());
    auto nq = static_cast<uint32_t>(graph.n_qubits), nc = static_cast<uint32_t>(graph.n_checks),
         nn = static_cast<uint32_t>(n), ne = static_cast<uint32_t>(e), bs = static_cast<uint32_t>(batch);
    void* params[] = {&p_syn, &p_ea, &p_eb, &p_eq, &p_corr, &p_s32, &p_s8, &nq, &nc, &nn, &ne, &bs};
    launch_kernel_on_host(static_cast<unsigned>((batch + 127) / 128), 128, params);

    EXPECT_TRUE(syn.intact() && ea.intact() && eb.intact() && eq.intact());
    EXPECT_TRUE(corr.intact()) << "kernel wrote past the corrections";
    EXPECT_TRUE(s32.intact()) << "kernel wrote past the u32 scratch";
    EXPECT_TRUE(s8.intact()) << "kernel wrote past the u8 scratch";
    return {corr.data(), corr.data() + corr.n};
}

}  // namespace vornex::testing
