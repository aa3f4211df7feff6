#include "evaluation/benchmark.h"

#include <gtest/gtest.h>

#include <chrono>

#include "code/generators.h"

namespace vornex {
namespace {

using std::chrono::nanoseconds;
using std::chrono::system_clock;

// Plain wyrand, written out from its definition.
uint64_t reference_wyrand(uint64_t& s) {
    s += 0x2d358dccaa6c78a5ull;
    const unsigned __int128 t = static_cast<unsigned __int128>(s) * (s ^ 0x8bb84b93962eacc9ull);
    return static_cast<uint64_t>(t >> 64) ^ static_cast<uint64_t>(t);
}

TEST(BenchmarkSyndromes, SampleMajorBit31OfLowWord) {
    for (uint64_t seed : {0ull, 42ull, 0xdeadbeefull}) {
        const auto bytes = benchmark_syndromes(7, 50, seed);
        ASSERT_EQ(bytes.size(), 350u);
        uint64_t s = seed;
        for (uint8_t b : bytes) ASSERT_EQ(b, (reference_wyrand(s) & 0xffffffffull) >> 31);
    }
    EXPECT_EQ(benchmark_syndromes(9, 100, 1), benchmark_syndromes(9, 100, 1));
    EXPECT_NE(benchmark_syndromes(9, 100, 1), benchmark_syndromes(9, 100, 2));
}

TEST(BenchmarkTiming, RepetitionsPerClockReading) {
    EXPECT_EQ(benchmark_repetitions(0), 128u);
    EXPECT_EQ(benchmark_repetitions(4), 128u);
    EXPECT_EQ(benchmark_repetitions(5), 102u);
    EXPECT_EQ(benchmark_repetitions(56), 9u);
    EXPECT_EQ(benchmark_repetitions(57), 8u);
    EXPECT_EQ(benchmark_repetitions(600), 8u);
}

TEST(BenchmarkStatistics, PercentileIndicesRoundingAndThroughput) {
    const auto one = summarise_latencies({3.25});
    for (double v : {one.mean, one.p50, one.p99, one.min, one.max}) EXPECT_EQ(v, 3.25);

    // Unsorted input; p50 is index 5 and p99 index 9 of the sorted ten.
    const auto ten = summarise_latencies({10, 9, 8, 7, 6, 5, 4, 3, 2, 1});
    EXPECT_EQ(ten.p50, 6.0);
    EXPECT_EQ(ten.p99, 10.0);
    EXPECT_EQ(ten.min, 1.0);
    EXPECT_EQ(ten.max, 10.0);
    EXPECT_EQ(ten.mean, 5.5);
    EXPECT_EQ(ten.throughput, 181818u);

    std::vector<double> thousand;
    for (int i = 0; i < 1000; ++i) thousand.push_back(i);
    EXPECT_EQ(summarise_latencies(thousand).p99, 990.0);

    EXPECT_EQ(round_millis(0.0625), 0.063);  // an exact half rounds away from zero
    EXPECT_EQ(round_millis(1.2344), 1.234);
    // Sub-nanosecond means are clamped to 0.001 µs before dividing.
    EXPECT_EQ(summarise_latencies({0.0001}).throughput, 1000000000u);
    EXPECT_EQ(summarise_latencies({0.0001}).mean, 0.0);
}

TEST(BenchmarkReportText, TimestampFractionDigits) {
    const system_clock::time_point epoch{};
    EXPECT_EQ(rfc3339_utc(epoch), "1970-01-01T00:00:00+00:00");
    EXPECT_EQ(rfc3339_utc(epoch + nanoseconds(1000000)), "1970-01-01T00:00:00.001+00:00");
    EXPECT_EQ(rfc3339_utc(epoch + nanoseconds(1000)), "1970-01-01T00:00:00.000001+00:00");
    EXPECT_EQ(rfc3339_utc(epoch + nanoseconds(1)), "1970-01-01T00:00:00.000000001+00:00");
    EXPECT_EQ(rfc3339_utc(epoch + nanoseconds(123456789)), "1970-01-01T00:00:00.123456789+00:00");
    // 2024-02-29T23:59:59.5 UTC
    EXPECT_EQ(rfc3339_utc(epoch + nanoseconds(1709251199500000000ll)), "2024-02-29T23:59:59.500+00:00");
}

TEST(BenchmarkReportText, MemberOrderAndNumberForms) {
    BenchmarkReport r;
    r.n_samples = 3;
    r.latency.mean = 12.0;
    r.latency.p50 = 0.1;
    r.latency.p99 = 1e-3;
    r.latency.min = 0.0;
    r.latency.max = 123.456;
    r.latency.throughput = 83333;
    r.timestamp = "1970-01-01T00:00:00+00:00";
    EXPECT_EQ(report_json(r).dump(2),
              "{\n"
              "  \"version\": \"0.6.6\",\n"
              "  \"n_samples\": 3,\n"
              "  \"latency_mean_us\": 12.0,\n"
              "  \"latency_p50_us\": 0.1,\n"
              "  \"latency_p99_us\": 0.001,\n"
              "  \"latency_min_us\": 0.0,\n"
              "  \"latency_max_us\": 123.456,\n"
              "  \"throughput\": 83333,\n"
              "  \"timestamp\": \"1970-01-01T00:00:00+00:00\"\n"
              "}");
}

TEST(BenchmarkRun, ReportIsConsistentAndZeroSamplesIsRejected) {
    const auto code = generate_surface_code(3).value();
    const auto graph = build_blossom_graph(code.checks, code.n_qubits, std::nullopt);
    const auto report = run_benchmark(graph, 200, 7);
    ASSERT_TRUE(report.ok());
    const auto& r = report.value();
    EXPECT_EQ(r.version, "0.6.6");
    EXPECT_EQ(r.n_samples, 200u);
    EXPECT_LE(r.latency.min, r.latency.p50);
    EXPECT_LE(r.latency.p50, r.latency.p99);
    EXPECT_LE(r.latency.p99, r.latency.max);
    EXPECT_LE(r.latency.min, r.latency.mean);
    EXPECT_LE(r.latency.mean, r.latency.max);
    EXPECT_GT(r.latency.throughput, 0u);
    EXPECT_TRUE(r.timestamp.ends_with("+00:00"));

    const auto none = run_benchmark(graph, 0, 7);
    ASSERT_FALSE(none.ok());
    EXPECT_EQ(none.error().message, "n_samples must be >= 1");

    const auto suite = BenchmarkSuite::create({{0, 1}, {1, 2}}, std::nullopt, std::nullopt, std::nullopt);
    ASSERT_TRUE(suite.ok());
    EXPECT_EQ(suite.value().n_samples(), 10000u);
    EXPECT_EQ(suite.value().seed(), 42u);
    EXPECT_EQ(suite.value().decoder().n_qubits(), 3u);
    EXPECT_FALSE(BenchmarkSuite::create({{0, 1}}, std::nullopt, 0, std::nullopt).ok());
}

}  // namespace
}  // namespace vornex
