// Lookup-table hit latency against the Union-Find decode it replaces.
//
// One sector of a rotated surface code (the Z checks of a d x d patch), table
// built from the zero pattern, every single flip and every pair. The timed
// syndromes are those of random one- and two-flip errors, so every decode is
// a hit. Both sides produce the same bytes; the Union-Find side is the
// allocating decode (fresh workspace per call, as the table's own misses use)
// and, for reference, decode_into with a reused workspace.
//
// Goal: a hit at least 5x faster than the allocating Union-Find decode at d = 9.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <span>
#include <vector>

#include "base/wyrand.h"
#include "code/rotated_sector.h"
#include "uf/lookup_table.h"
#include "uf/uf_core.h"

namespace {

using vornex::rotated_sector_top_bottom;

constexpr size_t kShots = 1024;

struct Setup {
    vornex::LookupTable table;
    std::vector<uint8_t> syndromes;  // kShots rows of n_checks bytes
};

Setup make_setup(uint32_t d) {
    const auto checks = rotated_sector_top_bottom(d);
    const size_t n = size_t{d} * d;
    Setup setup{vornex::LookupTable::create(checks, n).value(), {}};
    setup.table.build_table(1 + n + n * (n - 1) / 2);
    vornex::Wyrand rng(0x100C + d);
    std::vector<uint8_t> err(n);
    for (size_t s = 0; s < kShots; ++s) {
        std::fill(err.begin(), err.end(), 0);
        err[rng.next_u64() % n] ^= 1;
        if (s % 2) err[rng.next_u64() % n] ^= 1;
        for (const auto& check : checks) {
            uint8_t bit = 0;
            for (uint32_t q : check) bit ^= err[q];
            setup.syndromes.push_back(bit);
        }
    }
    return setup;
}

std::span<const uint8_t> row(const Setup& s, size_t i) {
    const size_t nc = s.table.n_checks();
    return {s.syndromes.data() + (i % kShots) * nc, nc};
}

void lookup_hit(benchmark::State& state) {
    const Setup s = make_setup(static_cast<uint32_t>(state.range(0)));
    size_t i = 0;
    for (auto _ : state) {
        auto out = s.table.decode(row(s, i++));
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void uf_decode(benchmark::State& state) {
    const Setup s = make_setup(static_cast<uint32_t>(state.range(0)));
    size_t i = 0;
    for (auto _ : state) {
        auto out = vornex::decode(s.table.graph(), row(s, i++));
        benchmark::DoNotOptimize(out);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

void uf_decode_into_reused(benchmark::State& state) {
    const Setup s = make_setup(static_cast<uint32_t>(state.range(0)));
    vornex::UfWorkspace ws;
    std::vector<uint8_t> out(s.table.n_qubits());
    size_t i = 0;
    for (auto _ : state) {
        vornex::decode_into(s.table.graph(), row(s, i++), ws, out);
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}

BENCHMARK(lookup_hit)->Name("lookup_hit_rotated")->Arg(5)->Arg(7)->Arg(9);
BENCHMARK(uf_decode)->Name("uf_decode_rotated")->Arg(5)->Arg(7)->Arg(9);
BENCHMARK(uf_decode_into_reused)->Name("uf_decode_into_reused_rotated")->Arg(5)->Arg(7)->Arg(9);

}  // namespace

BENCHMARK_MAIN();
