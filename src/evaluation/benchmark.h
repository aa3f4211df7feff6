// Single-syndrome latency of the weighted matching decoder on pseudo-random
// syndromes: mean, median, 99th percentile, extremes and throughput, with the
// library version and a UTC timestamp. Serves BenchmarkSuite.run() and the
// tool server's benchmark tool.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "base/progress.h"
#include "base/result.h"
#include "base/version.h"
#include "code/check_graph.h"
#include "matching/blossom.h"

namespace vornex {

inline constexpr uint64_t kDefaultBenchmarkSamples = 10000;
inline constexpr uint64_t kDefaultBenchmarkSeed = 42;

// Latency statistics of one run (µs per decode) and the throughput the mean
// implies (decodes per second).
struct LatencySummary {
    double mean = 0.0, p50 = 0.0, p99 = 0.0, min = 0.0, max = 0.0;  // rounded to 3 decimals
    uint64_t throughput = 0;                                        // from the unrounded mean
};

struct BenchmarkReport {
    std::string version = kLibraryVersion;
    uint64_t n_samples = 0;
    LatencySummary latency;
    std::string timestamp;
};

// n_samples rows of n_checks bytes (0 or 1), sample-major: bit 31 of the low
// word of one wyrand draw per byte, from a generator seeded with `seed`.
std::vector<uint8_t> benchmark_syndromes(size_t n_checks, size_t n_samples, uint64_t seed);

// Decodes timed per clock reading: 512 / n_checks clamped to [8, 128], so
// the clock's resolution does not dominate small codes.
size_t benchmark_repetitions(size_t n_checks);

// Sorts the latencies (µs) and summarises them; `latencies` must not be empty.
LatencySummary summarise_latencies(std::vector<double> latencies);

// x rounded to 3 decimals, halves away from zero.
double round_millis(double x);

// RFC 3339 UTC time with the shortest of 0, 3, 6 or 9 fraction digits that
// is exact, and the offset "+00:00".
std::string rfc3339_utc(std::chrono::system_clock::time_point time);

// The report with members in field order (the order of BenchmarkSuite.run()).
nlohmann::ordered_json report_json(const BenchmarkReport& report);

// Times n_samples single decodes of `graph` on the calling thread. Fails for
// a sample count of 0, which has no syndrome to warm up on. Reports each
// sample done to `progress` (outside the timed part) and stops when it says so.
Result<BenchmarkReport> run_benchmark(const BlossomGraph& graph, uint64_t n_samples, uint64_t seed,
                                      ProgressSink* progress = nullptr);

class BenchmarkSuite {
public:
    // The decoder is built without edge weights; None-like arguments take
    // their defaults (derived n_qubits, 10000 samples, seed 42).
    static Result<BenchmarkSuite> create(CheckList check_to_qubits, std::optional<size_t> n_qubits,
                                         std::optional<uint64_t> n_samples, std::optional<uint64_t> seed);

    uint64_t n_samples() const { return n_samples_; }
    uint64_t seed() const { return seed_; }
    const BlossomDecoder& decoder() const { return decoder_; }

    // The report as two-blank indented JSON text. Samples are reported to
    // `progress` (may be null), the last as (n_samples, n_samples); when it
    // asks to stop the result is interrupted_error().
    Result<std::string> run(ProgressSink* progress = nullptr) const;

private:
    BenchmarkSuite(BlossomDecoder decoder, uint64_t n_samples, uint64_t seed)
        : decoder_(std::move(decoder)), n_samples_(n_samples), seed_(seed) {}

    BlossomDecoder decoder_;
    uint64_t n_samples_;
    uint64_t seed_;
};

}  // namespace vornex
