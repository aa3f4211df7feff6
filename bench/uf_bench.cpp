// Union-Find decoding throughput in shots per second on one sector of a
// rotated surface code (the Z checks of a d x d patch) under independent bit
// flips, p = 0.05, fixed seed, syndromes drawn before timing.
//
// Goals: decode_into with a reused workspace >= 2M shots/s per core at d = 5
// and no heap allocation per shot (counted below); the parallel batch
// drivers >= 1.7x the single-thread rate on two cores.
#include <functional>
#include <type_traits>
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <vector>

#include "base/wyrand.h"
#include "code/check_graph.h"
#include "code/rotated_sector.h"
#include "uf/batch.h"
#include "uf/cpu_batch.h"
#include "uf/decoder.h"
#include "uf/fast_uf.h"
#include "uf/uf_core.h"
#include "uf/vornex_uf.h"

#include "allocation_counter.h"

namespace {

using vornex::CheckGraph;
using vornex::CheckList;
using vornex::rotated_sector_top_bottom;

constexpr size_t kShots = 8192;
constexpr double kP = 0.05;
constexpr uint64_t kSeed = 0x5EED;

// The C interface takes checks of a single weight, so it is timed on the
// sector's weight-4 plaquettes alone (the top and bottom rows then end on
// the boundary), a code of the same size and noise.
CheckList plaquette_checks(uint32_t d) {
    CheckList checks;
    for (auto& check : rotated_sector_top_bottom(d))
        if (check.size() == 4) checks.push_back(check);
    return checks;
}

std::vector<uint8_t> draw_syndromes(const CheckList& checks, size_t n_qubits, uint64_t seed) {
    vornex::Wyrand rng(seed);
    std::vector<uint8_t> err(n_qubits), out;
    out.reserve(kShots * checks.size());
    for (size_t s = 0; s < kShots; ++s) {
        for (auto& e : err) e = rng.next_unit() < kP;
        for (const auto& check : checks) {
            uint8_t bit = 0;
            for (uint32_t q : check) bit ^= err[q];
            out.push_back(bit);
        }
    }
    return out;
}

struct Workload {
    CheckGraph graph;
    std::vector<uint8_t> syndromes;  // kShots rows of n_checks bytes
    VornexFastDecoder* handle = nullptr;
    size_t c_checks = 0;
    size_t c_qubits = 0;
    std::vector<uint8_t> c_syndromes;
};

// Built once per distance and kept for the life of the process.
const Workload& workload(uint32_t d) {
    static std::vector<Workload*> cache(64, nullptr);
    if (cache[d]) return *cache[d];
    auto* w = new Workload;
    const size_t n_qubits = size_t{d} * d;
    const CheckList checks = rotated_sector_top_bottom(d);
    w->graph = vornex::build_check_graph(checks, n_qubits).value();
    w->syndromes = draw_syndromes(checks, n_qubits, kSeed + d);

    const CheckList plaquettes = plaquette_checks(d);
    std::vector<uint32_t> flat;
    for (const auto& check : plaquettes) flat.insert(flat.end(), check.begin(), check.end());
    w->handle = vornex_fast_decoder_create(flat.data(), plaquettes.size(), 4, n_qubits);
    w->c_checks = plaquettes.size();
    w->c_qubits = n_qubits;
    w->c_syndromes = draw_syndromes(plaquettes, n_qubits, kSeed + d);
    cache[d] = w;
    return *w;
}

void report(benchmark::State& state, size_t shots_per_iteration) {
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * shots_per_iteration));
}

void BM_decode_into_reused(benchmark::State& state) {
    const Workload& w = workload(static_cast<uint32_t>(state.range(0)));
    const size_t nc = w.graph.n_checks;
    vornex::UfWorkspace ws;
    std::vector<uint8_t> out(w.graph.n_qubits);
    vornex::decode_into(w.graph, {w.syndromes.data(), nc}, ws, out);  // grow once
    const size_t before = g_allocations.load();
    size_t shot = 0, ones = 0;
    for (auto _ : state) {
        vornex::decode_into(w.graph, {w.syndromes.data() + shot * nc, nc}, ws, out);
        ones += out[0];
        shot = shot + 1 == kShots ? 0 : shot + 1;
    }
    benchmark::DoNotOptimize(ones);
    const size_t allocations = g_allocations.load() - before;
    state.counters["allocs_per_shot"] = static_cast<double>(allocations) / static_cast<double>(state.iterations());
    if (allocations != 0) state.SkipWithError("decode_into allocated with a grown workspace");
    report(state, 1);
}

void BM_decode_allocating(benchmark::State& state) {
    const Workload& w = workload(static_cast<uint32_t>(state.range(0)));
    const size_t nc = w.graph.n_checks;
    size_t shot = 0, ones = 0;
    for (auto _ : state) {
        const auto out = vornex::decode(w.graph, {w.syndromes.data() + shot * nc, nc});
        ones += out[0];
        shot = shot + 1 == kShots ? 0 : shot + 1;
    }
    benchmark::DoNotOptimize(ones);
    report(state, 1);
}

template <class Run>
void batch_benchmark(benchmark::State& state, Run&& run) {
    const Workload& w = workload(static_cast<uint32_t>(state.range(0)));
    size_t ones = 0;
    for (auto _ : state) {
        const std::vector<uint8_t> out = run(w);
        ones += out[0];
    }
    benchmark::DoNotOptimize(ones);
    report(state, kShots);
}

// A batch entry point of a decoder family built on the workload's graph.
template <class Decoder, auto BatchDecode>
void BM_family_batch(benchmark::State& state) {
    batch_benchmark(state, [](const Workload& w) {
        const Decoder decoder(w.graph);
        const std::span<const uint8_t> rows(w.syndromes);
        // The blocked CPU forms take their lane copies explicitly through a member pointer.
        if constexpr (std::is_invocable_v<decltype(BatchDecode), const Decoder&, std::span<const uint8_t>, size_t>)
            return std::invoke(BatchDecode, decoder, rows, kShots);
        else
            return std::invoke(BatchDecode, decoder, rows, kShots, vornex::lane_copies());
    });
}

void BM_c_decode_fast_batch(benchmark::State& state) {
    batch_benchmark(state, [](const Workload& w) {
        std::vector<uint8_t> out(kShots * w.c_qubits);
        if (vornex_decode_fast_batch(w.handle, w.c_syndromes.data(), kShots, out.data()) != 0) std::abort();
        return out;
    });
}

// Single C decodes in a loop on the same code: the base of the C batch ratio.
void BM_c_decode_fast(benchmark::State& state) {
    const Workload& w = workload(static_cast<uint32_t>(state.range(0)));
    std::vector<uint8_t> out(w.c_qubits);
    size_t shot = 0, ones = 0;
    for (auto _ : state) {
        if (vornex_decode_fast(w.handle, w.c_syndromes.data() + shot * w.c_checks, w.c_checks, out.data(),
                               out.size()) != 0)
            std::abort();
        ones += out[0];
        shot = shot + 1 == kShots ? 0 : shot + 1;
    }
    benchmark::DoNotOptimize(ones);
    report(state, 1);
}

}  // namespace

#define UF_CODES ->Arg(5)->Arg(9)->Arg(13)->Arg(17)
BENCHMARK(BM_decode_into_reused) UF_CODES;
BENCHMARK(BM_decode_allocating) UF_CODES;
// Registered under the names earlier runs' results carry.
#define FAMILY_BATCH(name, Decoder, method) \
    BENCHMARK(BM_family_batch<Decoder, &Decoder::method>)->Name(name) UF_CODES->UseRealTime()
FAMILY_BATCH("BM_union_find_batch", vornex::UnionFindDecoder, batch_decode);
FAMILY_BATCH("BM_fast_union_find_batch", vornex::FastUnionFindDecoder, batch_decode);
FAMILY_BATCH("BM_batch_decoder_parallel", vornex::BatchDecoder, parallel_batch_decode);
FAMILY_BATCH("BM_cpu_batch_simd", vornex::CPUBatchDecoder, batch_decode_simd);
FAMILY_BATCH("BM_cpu_batch_pooled", vornex::CPUBatchDecoder, batch_decode_pooled);
FAMILY_BATCH("BM_cpu_batch_par", vornex::CPUBatchDecoder, batch_decode_par);
BENCHMARK(BM_c_decode_fast) UF_CODES;
BENCHMARK(BM_c_decode_fast_batch) UF_CODES->UseRealTime();

BENCHMARK_MAIN();
