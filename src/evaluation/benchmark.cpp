#include "evaluation/benchmark.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <new>
#include <span>

#include "base/memory_budget.h"
#include "base/wyrand.h"
#include "uf/decoder.h"

namespace vornex {
namespace {

constexpr size_t kWarmupDecodes = 100;

// Fills one sample's bytes from the running generator; successive calls
// continue the sample-major stream, so samples need not all be held at once.
void next_syndrome(Wyrand& rng, std::span<uint8_t> row) {
    for (uint8_t& bit : row) bit = static_cast<uint8_t>((static_cast<uint32_t>(rng.next_u64()) >> 31) & 1u);
}

// Truncation toward zero that saturates instead of overflowing (NaN gives 0).
uint64_t saturating_u64(double x) {
    if (!(x > 0.0)) return 0;
    if (x >= 18446744073709551616.0) return UINT64_MAX;
    return static_cast<uint64_t>(x);
}

std::string two_digits(int v) {
    return {static_cast<char>('0' + v / 10 % 10), static_cast<char>('0' + v % 10)};
}

}  // namespace

std::vector<uint8_t> benchmark_syndromes(size_t n_checks, size_t n_samples, uint64_t seed) {
    std::vector<uint8_t> bytes(batch_bytes(n_samples, n_checks));
    Wyrand rng(seed);
    next_syndrome(rng, bytes);
    return bytes;
}

size_t benchmark_repetitions(size_t n_checks) {
    const size_t c = std::max<size_t>(n_checks, 1);
    const size_t k = c <= 512 ? 512 / c : 0;
    return std::min<size_t>(std::max<size_t>(k, 8), 128);
}

double round_millis(double x) { return std::round(x * 1000.0) / 1000.0; }

LatencySummary summarise_latencies(std::vector<double> latencies) {
    std::sort(latencies.begin(), latencies.end());
    const size_t n = latencies.size();
    double sum = 0.0;
    for (double v : latencies) sum += v;
    const double mean = sum / static_cast<double>(n);
    const size_t p99 = std::min(n - 1, static_cast<size_t>(std::floor(0.99 * static_cast<double>(n))));
    LatencySummary s;
    s.mean = round_millis(mean);
    s.p50 = round_millis(latencies[n / 2]);
    s.p99 = round_millis(latencies[p99]);
    s.min = round_millis(latencies.front());
    s.max = round_millis(latencies.back());
    s.throughput = saturating_u64(1e6 / std::max(mean, 0.001));
    return s;
}

std::string rfc3339_utc(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto since_epoch = duration_cast<nanoseconds>(time.time_since_epoch());
    auto secs = floor<seconds>(since_epoch);
    const int64_t nanos = (since_epoch - secs).count();
    const std::time_t t = static_cast<std::time_t>(secs.count());
    std::tm tm{};
    gmtime_r(&t, &tm);
    std::string out = std::to_string(tm.tm_year + 1900);
    while (out.size() < 4) out.insert(out.begin(), '0');
    out += "-" + two_digits(tm.tm_mon + 1) + "-" + two_digits(tm.tm_mday) + "T" + two_digits(tm.tm_hour) + ":" +
           two_digits(tm.tm_min) + ":" + two_digits(tm.tm_sec);
    if (nanos != 0) {
        std::string digits = std::to_string(nanos);
        digits.insert(0, 9 - digits.size(), '0');
        if (nanos % 1000000 == 0)
            digits.resize(3);
        else if (nanos % 1000 == 0)
            digits.resize(6);
        out += "." + digits;
    }
    return out + "+00:00";
}

nlohmann::ordered_json report_json(const BenchmarkReport& report) {
    // Members in this order: readers of stored reports compare the text.
    return nlohmann::ordered_json{{"version", report.version},
                                  {"n_samples", report.n_samples},
                                  {"latency_mean_us", report.latency.mean},
                                  {"latency_p50_us", report.latency.p50},
                                  {"latency_p99_us", report.latency.p99},
                                  {"latency_min_us", report.latency.min},
                                  {"latency_max_us", report.latency.max},
                                  {"throughput", report.latency.throughput},
                                  {"timestamp", report.timestamp}};
}

Result<BenchmarkReport> run_benchmark(const BlossomGraph& graph, uint64_t n_samples, uint64_t seed,
                                      ProgressSink* progress) {
    if (n_samples == 0) return value_error("n_samples must be >= 1");
    const size_t n_checks = graph.n_checks;
    const size_t reps = benchmark_repetitions(n_checks);
    // One latency per sample is kept: a count beyond memory is refused
    // before the first decode instead of failing (or being killed) part-way.
    if (!fits_in_memory(static_cast<double>(n_samples) * sizeof(double))) throw std::bad_alloc();
    std::vector<uint8_t> syndrome(n_checks);
    std::vector<uint8_t> correction(graph.n_qubits);
    std::vector<double> latencies(n_samples);

    Wyrand rng(seed);
    next_syndrome(rng, syndrome);
    for (size_t i = 0; i < kWarmupDecodes; ++i) (void)blossom_decode_into(graph, syndrome, correction);

    for (uint64_t l = 0; l < n_samples; ++l) {
        if (progress != nullptr && !progress->report(l, n_samples)) return interrupted_error();
        if (l > 0) next_syndrome(rng, syndrome);
        const auto start = std::chrono::steady_clock::now();
        for (size_t r = 0; r < reps; ++r) (void)blossom_decode_into(graph, syndrome, correction);
        const auto elapsed = std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start);
        const double secs = static_cast<double>(elapsed.count() / 1000000000) +
                            static_cast<double>(elapsed.count() % 1000000000) / 1e9;
        latencies[l] = secs * 1e6 / static_cast<double>(reps);
    }

    BenchmarkReport report;
    report.n_samples = n_samples;
    report.latency = summarise_latencies(std::move(latencies));
    report.timestamp = rfc3339_utc(std::chrono::system_clock::now());
    return report;
}

Result<BenchmarkSuite> BenchmarkSuite::create(CheckList check_to_qubits, std::optional<size_t> n_qubits,
                                              std::optional<uint64_t> n_samples, std::optional<uint64_t> seed) {
    const uint64_t samples = n_samples.value_or(kDefaultBenchmarkSamples);
    if (samples == 0) return value_error("n_samples must be >= 1");
    // Measured on a build and a run: about 23 bytes per declared qubit.
    if (auto fits = check_declared_qubits(n_qubits.value_or(derived_n_qubits(check_to_qubits)), "a benchmark suite", 24);
        !fits)
        return fits.error();
    BlossomDecoder decoder(build_blossom_graph(std::move(check_to_qubits), n_qubits, std::nullopt));
    return BenchmarkSuite(std::move(decoder), samples, seed.value_or(kDefaultBenchmarkSeed));
}

Result<std::string> BenchmarkSuite::run(ProgressSink* progress) const {
    auto report = run_benchmark(decoder_.graph(), n_samples_, seed_, progress);
    if (!report) return report.error();
    if (progress != nullptr && !progress->report(n_samples_, n_samples_)) return interrupted_error();
    return report_json(report.value()).dump(2);
}

}  // namespace vornex
