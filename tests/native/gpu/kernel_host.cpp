#include "gpu/kernel_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <thread>

#include "gpu/kernel_as_host_code.h"
#include "gpu/kernel_layout.h"

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

template <class I, class Entry>
void call_entry(Entry entry, void** params) {
    using kernel_text::vx_u32;
    using kernel_text::vx_u8;
    entry(ptr_arg<const vx_u8>(params, 0), ptr_arg<const I>(params, 1), ptr_arg<const I>(params, 2),
          ptr_arg<const I>(params, 3), ptr_arg<vx_u8>(params, 4), ptr_arg<I>(params, 5), ptr_arg<vx_u8>(params, 6),
          arg<vx_u32>(params, 7), arg<vx_u32>(params, 8), arg<vx_u32>(params, 9), arg<vx_u32>(params, 10),
          arg<vx_u32>(params, 11));
}

// Runs GPU thread `t` of the launch on the calling host thread.
void run_thread(KernelLayout layout, unsigned block, uint64_t t, void** params) {
    using namespace kernel_text;
    blockDim.x = block;
    blockIdx.x = static_cast<unsigned>(t / block);
    threadIdx.x = static_cast<unsigned>(t % block);
    switch (layout) {
        case KernelLayout::Contiguous: return call_entry<vx_u32>(uf_decode_batch_cuda, params);
        case KernelLayout::LanesU16: return call_entry<vx_u16>(uf_decode_batch_lanes_u16, params);
        case KernelLayout::LanesU32: return call_entry<vx_u32>(uf_decode_batch_lanes_u32, params);
    }
}

constexpr size_t kGuard = 64;
constexpr uint8_t kCanary = 0xA5;

// A buffer with canary bytes behind its end.
struct Guarded {
    Guarded(size_t n_bytes, uint8_t fill) : n(n_bytes), bytes(n_bytes + kGuard, kCanary) {
        std::fill(bytes.begin(), bytes.begin() + static_cast<ptrdiff_t>(n), fill);
    }
    uint8_t* data() { return bytes.data(); }
    unsigned long long address() { return static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(data())); }
    bool intact() const {
        return std::all_of(bytes.end() - kGuard, bytes.end(), [](uint8_t b) { return b == kCanary; });
    }
    size_t n;
    std::vector<uint8_t> bytes;
};

// The GPU thread that owns element x of a scratch area of per-thread stride
// `stride`, as the layout defines it; batch for padding nobody owns.
uint64_t owner_of(KernelLayout layout, uint64_t x, uint64_t stride) {
    if (layout == KernelLayout::Contiguous) return x / stride;
    const uint64_t warp = x / (stride * kWarpLanes);
    return warp * kWarpLanes + x % kWarpLanes;
}

// Every byte of `area` that differs from `before` must belong to thread t.
void expect_only_own_changes(const char* name, KernelLayout layout, const Guarded& area,
                             const std::vector<uint8_t>& before, size_t element_bytes, uint64_t stride, uint64_t t) {
    for (size_t b = 0; b < area.n; ++b) {
        if (area.bytes[b] == before[b]) continue;
        const uint64_t owner = owner_of(layout, b / element_bytes, stride);
        if (owner != t) {
            ADD_FAILURE() << "thread " << t << " changed byte " << b << " of " << name << ", which belongs to thread "
                          << owner;
            return;
        }
    }
}

}  // namespace

void launch_kernel_on_host(KernelLayout layout, unsigned grid, unsigned block, void** params) {
    const uint64_t threads = uint64_t{grid} * block;
    constexpr unsigned kHostThreads = 4;
    std::vector<std::thread> pool;
    for (unsigned h = 0; h < kHostThreads; ++h)
        pool.emplace_back([=] {
            for (uint64_t t = h; t < threads; t += kHostThreads) run_thread(layout, block, t, params);
        });
    for (std::thread& thread : pool) thread.join();
}

std::vector<uint8_t> kernel_decode(const CheckGraph& graph, const uint8_t* syndromes, size_t batch, KernelRun run) {
    const size_t n = graph.n_nodes, e = graph.edges.size();
    const bool lanes = run.layout != KernelLayout::Contiguous;
    const size_t ib = run.layout == KernelLayout::LanesU16 ? 2 : 4;
    const size_t shots = lanes ? warp_padded(batch) : batch;
    const uint64_t s_idx = scratch_words_per_shot(n, e), s_bytes = scratch_bytes_per_shot(n, e);
    if (ib == 2 && index_bytes(n, e, graph.n_qubits) != 2) ADD_FAILURE() << "graph too large for 16-bit indices";

    Guarded syn(batch * graph.n_checks, 0);
    std::copy(syndromes, syndromes + batch * graph.n_checks, syn.data());
    Guarded ea(e * ib, 0), eb(e * ib, 0), eq(e * ib, 0);
    for (size_t i = 0; i < e; ++i) {
        const uint32_t values[3] = {graph.edges[i].a, graph.edges[i].b, graph.edges[i].q};
        Guarded* arrays[3] = {&ea, &eb, &eq};
        for (int k = 0; k < 3; ++k) {
            if (ib == 2) {
                const auto v = static_cast<uint16_t>(values[k]);
                std::memcpy(arrays[k]->data() + i * 2, &v, 2);
            } else {
                std::memcpy(arrays[k]->data() + i * 4, &values[k], 4);
            }
        }
    }
    // Stale bytes everywhere: the kernel must initialise what it reads.
    Guarded corr(batch * graph.n_qubits, 7);
    Guarded sidx(shots * s_idx * ib, 0xBE);
    Guarded s8(shots * s_bytes, 0xCC);

    unsigned long long p_syn = syn.address(), p_ea = ea.address(), p_eb = eb.address(), p_eq = eq.address(),
                       p_corr = corr.address(), p_sidx = sidx.address(), p_s8 = s8.address();
    auto nq = static_cast<uint32_t>(graph.n_qubits), nc = static_cast<uint32_t>(graph.n_checks),
         nn = static_cast<uint32_t>(n), ne = static_cast<uint32_t>(e), bs = static_cast<uint32_t>(batch);
    void* params[] = {&p_syn, &p_ea, &p_eb, &p_eq, &p_corr, &p_sidx, &p_s8, &nq, &nc, &nn, &ne, &bs};
    const auto grid = static_cast<unsigned>((batch + 127) / 128);
    if (!run.check_isolation) {
        launch_kernel_on_host(run.layout, grid, 128, params);
    } else {
        for (uint64_t t = 0; t < uint64_t{grid} * 128; ++t) {
            const std::vector<uint8_t> idx_before = sidx.bytes, bytes_before = s8.bytes;
            run_thread(run.layout, 128, t, params);
            expect_only_own_changes("the index scratch", run.layout, sidx, idx_before, ib, s_idx, t);
            expect_only_own_changes("the byte scratch", run.layout, s8, bytes_before, 1, s_bytes, t);
            if (::testing::Test::HasFailure()) break;
        }
    }

    EXPECT_TRUE(syn.intact() && ea.intact() && eb.intact() && eq.intact());
    EXPECT_TRUE(corr.intact()) << "kernel wrote past the corrections";
    EXPECT_TRUE(sidx.intact()) << "kernel wrote past the index scratch";
    EXPECT_TRUE(s8.intact()) << "kernel wrote past the byte scratch";
    return {corr.data(), corr.data() + corr.n};
}

}  // namespace vornex::testing
