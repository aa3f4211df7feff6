// The GPU kernel's memory traffic and footprint, from a host run of its text.
//
// Each shot of a noisy rotated-sector batch is decoded by the kernel's own
// carving and algorithm, once with the contiguous per-thread scratch and once
// with scratch interleaved across warp lanes (16-bit indices where the graph
// allows), through views that log every scratch access with its place in the
// code. A warp executes one place in the code for all its lanes at once, so
// the n-th visit of a place by each of the 32 lanes is taken as one
// warp-wide access, costing the distinct 32-byte sectors its lanes touch.
// That is the SIMT model with lanes meeting at every place the same number of
// times; divergent lanes (different growth rounds, different find chains)
// meet less in a real warp, so the figures bound the gain from above for the
// data-dependent accesses and are exact for the loops over all nodes and
// edges. Every row is checked byte for byte against the Union-Find core.
//
//   gpu_layout_bench [rows=4096] [p=0.05]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "base/wyrand.h"
#include "code/check_graph.h"
#include "code/rotated_sector.h"
#include "gpu/kernel_as_host_code.h"
#include "gpu/kernel_layout.h"
#include "uf/uf_core.h"

namespace vornex::kernel_text {

// The running shot's scratch accesses, in order: the place in the code
// (the return address of the view's access, which is never inlined) and the
// byte address.
struct Access {
    const void* site;
    uintptr_t address;
};
std::vector<Access>* g_trace = nullptr;

template <class T>
struct counting_flat {
    typedef T value_type;
    T* p;
    __attribute__((noinline)) T& operator[](vx_u64 k) const {
        g_trace->push_back({__builtin_return_address(0), reinterpret_cast<uintptr_t>(p + k)});
        return p[k];
    }
};

template <class T>
struct counting_lane {
    typedef T value_type;
    T* p;
    __attribute__((noinline)) T& operator[](vx_u64 k) const {
        g_trace->push_back({__builtin_return_address(0), reinterpret_cast<uintptr_t>(p + k * 32)});
        return p[k * 32];
    }
};
}  // namespace vornex::kernel_text

namespace {

using namespace vornex;
using kernel_text::vx_u16;
using kernel_text::vx_u32;
using kernel_text::vx_u8;

struct Traffic {
    uint64_t sectors = 0;   // 32-byte sectors over all warp-wide accesses
    uint64_t accesses = 0;  // warp-wide accesses (aligned access numbers)
};

// Sectors of one warp's traces: the n-th visit of each place by every lane
// is one warp-wide access.
void add_warp(const std::vector<std::vector<kernel_text::Access>>& traces, Traffic& traffic) {
    std::map<std::pair<const void*, uint64_t>, std::vector<uintptr_t>> accesses;
    std::map<const void*, uint64_t> visits;
    for (const auto& trace : traces) {
        visits.clear();
        for (const kernel_text::Access& a : trace) accesses[{a.site, visits[a.site]++}].push_back(a.address / 32);
    }
    for (auto& [key, sectors] : accesses) {
        std::sort(sectors.begin(), sectors.end());
        traffic.sectors += static_cast<uint64_t>(std::unique(sectors.begin(), sectors.end()) - sectors.begin());
    }
    traffic.accesses += accesses.size();
}

// 256-byte aligned zeroed storage, so sector numbers do not depend on malloc.
struct Aligned {
    explicit Aligned(size_t bytes) : data(static_cast<uint8_t*>(std::aligned_alloc(256, (bytes + 255) / 256 * 256))) {
        std::memset(data, 0xCC, (bytes + 255) / 256 * 256);
    }
    ~Aligned() { std::free(data); }
    uint8_t* data;
};

template <class I, template <class> class View>
Traffic run_layout(const CheckGraph& g, const std::vector<uint8_t>& rows, size_t batch, bool lanes,
                   std::vector<uint8_t>& out) {
    const uint64_t N = g.n_nodes, E = g.edges.size();
    const uint64_t S = scratch_words_per_shot(N, E), S8 = scratch_bytes_per_shot(N, E);
    std::vector<I> ea(E), eb(E), eq(E);
    for (size_t e = 0; e < E; ++e) {
        ea[e] = static_cast<I>(g.edges[e].a);
        eb[e] = static_cast<I>(g.edges[e].b);
        eq[e] = static_cast<I>(g.edges[e].q);
    }
    const uint64_t shots = lanes ? warp_padded(batch) : batch;
    Aligned idx(shots * S * sizeof(I)), bytes(shots * S8);
    I* sidx = reinterpret_cast<I*>(idx.data);
    out.assign(batch * g.n_qubits, 0);
    Traffic traffic;
    std::vector<std::vector<kernel_text::Access>> traces(kWarpLanes);
    for (uint64_t warp = 0; warp * kWarpLanes < batch; ++warp) {
        for (uint64_t lane = 0; lane < kWarpLanes; ++lane) {
            traces[lane].clear();
            const uint64_t t = warp * kWarpLanes + lane;
            if (t >= batch) continue;
            kernel_text::g_trace = &traces[lane];
            const auto s = lanes ? kernel_text::vx_carve<View>(sidx + warp * S * 32 + lane,
                                                               bytes.data + warp * S8 * 32 + lane, 32, N, E)
                                 : kernel_text::vx_carve<View>(sidx + t * S, bytes.data + t * S8, 1, N, E);
            kernel_text::vx_decode_shot(s, rows.data() + t * g.n_checks, out.data() + t * g.n_qubits, ea.data(),
                                        eb.data(), eq.data(), static_cast<vx_u32>(g.n_qubits),
                                        static_cast<vx_u32>(g.n_checks), static_cast<vx_u32>(N),
                                        static_cast<vx_u32>(E));
        }
        add_warp(traces, traffic);
    }
    return traffic;
}

std::vector<uint8_t> noisy_rows(const CheckGraph& g, size_t batch, double p, Wyrand& rng) {
    std::vector<uint8_t> rows(batch * g.n_checks, 0);
    for (size_t shot = 0; shot < batch; ++shot)
        for (const CheckEdge& e : g.edges) {
            if (rng.next_unit() >= p) continue;
            if (e.a < g.n_checks) rows[shot * g.n_checks + e.a] ^= 1;
            if (e.b < g.n_checks) rows[shot * g.n_checks + e.b] ^= 1;
        }
    return rows;
}

}  // namespace

int main(int argc, char** argv) {
    const size_t batch = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 4096;
    const double p = argc > 2 ? std::strtod(argv[2], nullptr) : 0.05;
    // 16 GB device: what a process typically finds free after its context.
    const double free_bytes = 15.5 * (1ull << 30);
    std::printf("rows per code %zu, p = %.3f; sectors = 32-byte memory transactions of the scratch\n", batch, p);
    std::printf("%-18s %14s %14s %10s %12s %12s %8s %14s %14s\n", "code", "contig sec/shot", "lanes sec/shot",
                "ratio", "contig sec/acc", "lanes sec/acc", "idx B", "B/shot before", "B/shot after");
    Wyrand rng(0x6c61796f7574ull);
    for (uint32_t d : {5u, 9u, 13u, 17u}) {
        const CheckGraph g = build_check_graph(rotated_sector_top_bottom(d), size_t{d} * d).value();
        const std::vector<uint8_t> rows = noisy_rows(g, batch, p, rng);
        std::vector<uint8_t> want(batch * g.n_qubits), contig, lanes;
        UfWorkspace ws;
        for (size_t i = 0; i < batch; ++i)
            decode_into(g, {rows.data() + i * g.n_checks, g.n_checks}, ws,
                        {want.data() + i * g.n_qubits, g.n_qubits});
        const Traffic before = run_layout<vx_u32, kernel_text::counting_flat>(g, rows, batch, false, contig);
        const uint32_t ib = index_bytes(g.n_nodes, g.edges.size(), g.n_qubits);
        const Traffic after = ib == 2 ? run_layout<vx_u16, kernel_text::counting_lane>(g, rows, batch, true, lanes)
                                      : run_layout<vx_u32, kernel_text::counting_lane>(g, rows, batch, true, lanes);
        if (contig != want || lanes != want) {
            std::printf("MISMATCH against the core at d=%u\n", d);
            return 1;
        }
        const uint64_t N = g.n_nodes, E = g.edges.size();
        const uint64_t rows_bytes = g.n_checks + g.n_qubits;
        const uint64_t per_before = rows_bytes + 4 * scratch_words_per_shot(N, E) + scratch_bytes_per_shot(N, E);
        const uint64_t per_after = rows_bytes + ib * scratch_words_per_shot(N, E) + scratch_bytes_per_shot(N, E);
        char name[32];
        std::snprintf(name, sizeof name, "rotated_d%u", d);
        std::printf("%-18s %14.0f %14.0f %9.1fx %12.2f %12.2f %8u %14llu %14llu\n", name,
                    double(before.sectors) / double(batch), double(after.sectors) / double(batch),
                    double(before.sectors) / double(after.sectors), double(before.sectors) / double(before.accesses),
                    double(after.sectors) / double(after.accesses), ib, (unsigned long long)per_before,
                    (unsigned long long)per_after);
        if (d == 17) {
            std::printf("\nd=17 on a 16 GB device (%.1f GiB free): before, one call held the whole batch: at most "
                        "%.0f shots, and a larger batch failed and counted as a failure.\n",
                        free_bytes / (1ull << 30), free_bytes / double(per_before));
            const uint64_t one_launch = uint64_t(free_bytes / 10 * 9 / double(per_after)) / 32 * 32;
            std::printf("after: one launch takes up to %llu shots (90%% of free memory); a larger call runs in "
                        "chunks of %llu on two streams, up to the 2^32 - 1 shot limit of a call.\n",
                        (unsigned long long)one_launch, (unsigned long long)(one_launch / 2 / 32 * 32));
        }
    }
    std::printf("all rows byte-identical to the Union-Find core in both layouts\n");
    return 0;
}
