// Exact sparse matching on circuit-level noise, native: microseconds and heap
// allocations per shot of the engine alone, and of the decoder's observable
// predictions on one thread and on the worker pool (the two-worker scaling).
//
// Models come from bench/write_matching_dems.py (rotated memory, rounds = d)
// in $VORNEX_MATCHING_DEMS (default /tmp/vornex_matching_dems); shots are
// drawn here from the model's own mechanisms with a fixed seed, before timing.
// Names read sparse_engine_rotated_d9_p0.003 and the like.
//
// Goals: no allocation per shot once the workspace is warm; the peer's
// per-shot time (bench/sparse_matching_bench.py measures both in one run);
// two workers at least 1.8x one.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <memory>
#include <new>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "base/wyrand.h"
#include "dem/dem_model.h"
#include "dem/dem_reader.h"
#include "matching/matching_decoder.h"
#include "matching/sparse/sparse_engine.h"

#include "allocation_counter.h"

namespace {

namespace fs = std::filesystem;
using vornex::MatchingDecoder;
using vornex::sparse::NodeId;

constexpr uint64_t kSeed = 0x5EED;

struct Workload {
    std::optional<MatchingDecoder> decoder;  // set by load(); the decoder has no empty state
    size_t n_shots = 0;
    std::vector<uint8_t> rows;          // n_shots rows of one byte per detector
    std::vector<uint32_t> event_begin;  // n_shots + 1 offsets into events
    std::vector<NodeId> events;         // fired detectors of every shot
};

// Shots of independent mechanisms: each column fires with its probability
// and flips the detectors it names an odd number of times.
void draw_shots(const vornex::DetectorErrorModel& model, Workload& w) {
    const size_t n = model.num_detectors;
    std::vector<std::vector<uint32_t>> flips(model.num_errors());
    for (size_t c = 0; c < model.num_errors(); ++c) vornex::column_detectors(model, c, flips[c]);
    vornex::Wyrand rng(kSeed + n);
    w.rows.assign(w.n_shots * n, 0);
    w.event_begin.assign(1, 0);
    for (size_t s = 0; s < w.n_shots; ++s) {
        uint8_t* row = w.rows.data() + s * n;
        for (size_t c = 0; c < model.num_errors(); ++c)
            if (rng.next_unit() < model.probability[c])
                for (const uint32_t d : flips[c]) row[d] ^= 1;
        for (size_t d = 0; d < n; ++d)
            if (row[d]) w.events.push_back(static_cast<NodeId>(d));
        w.event_begin.push_back(static_cast<uint32_t>(w.events.size()));
    }
}

Workload load(const fs::path& file, uint32_t distance) {
    std::ifstream in(file);
    std::stringstream text;
    text << in.rdbuf();
    auto model = vornex::read_detector_error_model(text.str());
    if (!model) {
        std::cerr << file << ": " << model.error().message << "\n";
        std::exit(1);
    }
    auto decoder = MatchingDecoder::from_model(model.value());
    if (!decoder) {
        std::cerr << file << ": " << decoder.error().message << "\n";
        std::exit(1);
    }
    Workload w;
    w.decoder.emplace(std::move(decoder).value());
    w.n_shots = std::max<size_t>(1000, 40000 * 9 / (size_t{distance} * distance));
    draw_shots(model.value(), w);
    return w;
}

void per_shot_counters(benchmark::State& state, const Workload& w, size_t shots_per_iteration) {
    const double shots = static_cast<double>(state.iterations() * shots_per_iteration);
    state.SetItemsProcessed(static_cast<int64_t>(shots));
    state.counters["us_per_shot"] =
        benchmark::Counter(shots * 1e-6, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["events_per_shot"] = static_cast<double>(w.events.size()) / static_cast<double>(w.n_shots);
}

// The engine alone on one thread, workspace warmed by a first pass.
void engine_shots(benchmark::State& state, const Workload& w) {
    vornex::sparse::SparseEngine engine;
    vornex::sparse::SparseMatching out;
    const auto& graph = w.decoder->graph();
    auto shot_events = [&](size_t s) {
        return std::span<const NodeId>(w.events.data() + w.event_begin[s], w.event_begin[s + 1] - w.event_begin[s]);
    };
    for (size_t s = 0; s < w.n_shots; ++s) (void)engine.match(graph, shot_events(s), out);
    const size_t before = g_allocations.load();
    uint64_t parity = 0;
    size_t shot = 0;
    for (auto _ : state) {
        if (!engine.match(graph, shot_events(shot), out)) state.SkipWithError("a shot had no perfect matching");
        parity ^= out.observables;
        shot = shot + 1 == w.n_shots ? 0 : shot + 1;
    }
    benchmark::DoNotOptimize(parity);
    const size_t allocations = g_allocations.load() - before;
    state.counters["allocs_per_shot"] = static_cast<double>(allocations) / static_cast<double>(state.iterations());
    per_shot_counters(state, w, 1);
}

// Predictions of every shot through the decoder: one thread, or the pool.
void decoder_batch(benchmark::State& state, const Workload& w, bool parallel) {
    size_t ones = 0;
    for (auto _ : state) {
        auto out = w.decoder->predict_observables(w.rows, w.n_shots, false, parallel);
        if (!out) state.SkipWithError(out.error().message.c_str());
        else ones += out.value()[0];
    }
    benchmark::DoNotOptimize(ones);
    per_shot_counters(state, w, w.n_shots);
}

// rotated_d9_p0.003.dem -> 9, or 0 for a name of another shape.
uint32_t distance_of(const std::string& stem) {
    const auto at = stem.find("_d");
    return at == std::string::npos ? 0 : static_cast<uint32_t>(std::strtoul(stem.c_str() + at + 2, nullptr, 10));
}

}  // namespace

int main(int argc, char** argv) {
    const char* env = std::getenv("VORNEX_MATCHING_DEMS");
    const fs::path dir = env ? env : "/tmp/vornex_matching_dems";
    std::vector<fs::path> files;
    if (fs::is_directory(dir))
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.path().extension() == ".dem") files.push_back(entry.path());
    if (files.empty()) {
        std::cerr << "no models in " << dir << ": run bench/write_matching_dems.py first\n";
        return 0;
    }
    std::sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) {
        const auto da = distance_of(a.stem().string()), db = distance_of(b.stem().string());
        return da != db ? da < db : a.stem().string() < b.stem().string();
    });
    for (const auto& file : files) {
        const std::string name = file.stem().string();
        // Loaded on first use, so a filtered run reads only the models it times.
        auto workload = [file, name, cache = std::make_shared<std::unique_ptr<Workload>>()]() -> const Workload& {
            if (!*cache) *cache = std::make_unique<Workload>(load(file, distance_of(name)));
            return **cache;
        };
        benchmark::RegisterBenchmark(("sparse_engine_" + name).c_str(),
                                     [workload](benchmark::State& s) { engine_shots(s, workload()); });
        benchmark::RegisterBenchmark(("sparse_predict_1_thread_" + name).c_str(),
                                     [workload](benchmark::State& s) { decoder_batch(s, workload(), false); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
        benchmark::RegisterBenchmark(("sparse_predict_pool_" + name).c_str(),
                                     [workload](benchmark::State& s) { decoder_batch(s, workload(), true); })
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime();
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
