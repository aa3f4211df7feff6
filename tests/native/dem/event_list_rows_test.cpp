#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/wyrand.h"
#include "dem/event_list_rows.h"
#include "dem/shot_rows.h"

namespace vornex {
namespace {

// The plain way: unpack, then list the bytes that are 1.
std::vector<uint32_t> fired_reference(const uint8_t* row, size_t n_bits, bool packed) {
    std::vector<uint8_t> bytes(row, row + n_bits);
    if (packed) unpack_bits(row, n_bits, bytes.data());
    std::vector<uint32_t> fired;
    for (size_t k = 0; k < n_bits; ++k)
        if (bytes[k]) fired.push_back(static_cast<uint32_t>(k));
    return fired;
}

TEST(EventListRows, FiredDetectorsMatchAPlainScanInBothLayouts) {
    Wyrand rng(17);
    for (const size_t n_bits : {1u, 7u, 8u, 9u, 63u, 64u, 65u, 120u, 200u, 337u}) {
        for (int trial = 0; trial < 60; ++trial) {
            const uint64_t density = 1 + rng.next_u64() % 8;  // from sparse rows to full ones
            std::vector<uint8_t> bytes(n_bits);
            for (auto& b : bytes) b = rng.next_u64() % 8 < density ? 1 : 0;
            std::vector<uint8_t> packed((n_bits + 7) / 8);
            pack_bits(bytes.data(), n_bits, packed.data());
            // Padding bits of the last byte carry noise that must be ignored.
            if (n_bits % 8) packed.back() |= static_cast<uint8_t>(0xFF << (n_bits % 8));
            std::vector<uint32_t> fired(n_bits);
            const auto expected = fired_reference(bytes.data(), n_bits, false);
            const size_t from_bytes = fired_of_byte_row(bytes.data(), n_bits, fired.data());
            EXPECT_EQ(std::vector<uint32_t>(fired.begin(), fired.begin() + from_bytes), expected) << n_bits;
            const size_t from_packed = fired_of_packed_row(packed.data(), n_bits, fired.data());
            EXPECT_EQ(std::vector<uint32_t>(fired.begin(), fired.begin() + from_packed), expected) << n_bits;
        }
    }
}

TEST(EventListRows, AByteOtherThanZeroOrOneAnywhereInTheRowIsRefused) {
    for (const size_t n : {1u, 8u, 13u, 64u}) {
        for (size_t at = 0; at < n; ++at) {
            for (const uint8_t bad : {uint8_t{2}, uint8_t{3}, uint8_t{0x80}, uint8_t{0xFF}}) {
                std::vector<uint8_t> row(n, 1);
                row[at] = bad;
                std::vector<uint32_t> fired(n);
                EXPECT_EQ(fired_of_byte_row(row.data(), n, fired.data()), SIZE_MAX) << n << " " << at;
            }
        }
    }
}

TEST(EventListRows, FlipsAreWrittenLikePackingTheirBytes) {
    Wyrand rng(5);
    for (const size_t n_obs : {1u, 3u, 8u, 9u, 17u, 64u}) {
        for (int trial = 0; trial < 20; ++trial) {
            const uint64_t flips = rng.next_u64() & (n_obs == 64 ? ~uint64_t{0} : (uint64_t{1} << n_obs) - 1);
            std::vector<uint8_t> bytes(n_obs);
            for (size_t o = 0; o < n_obs; ++o) bytes[o] = (flips >> o) & 1;
            std::vector<uint8_t> packed((n_obs + 7) / 8);
            pack_bits(bytes.data(), n_obs, packed.data());
            std::vector<uint8_t> got_bytes(n_obs, 7), got_packed(packed.size(), 7);
            write_flips(flips, BitRows{n_obs, false}, got_bytes.data());
            write_flips(flips, BitRows{n_obs, true}, got_packed.data());
            EXPECT_EQ(got_bytes, bytes);
            EXPECT_EQ(got_packed, packed);
        }
    }
}

// A stand-in engine: flips observable k when detector k fired (so the
// output shows exactly which events reached it); a shot whose event count
// is divisible by 5 fails.
struct EchoPredictor {
    std::atomic<size_t>* calls;  // shared by the pool's threads
    bool operator()(std::span<const uint32_t> fired, uint64_t& flips) {
        ++*calls;
        if (fired.size() % 5 == 0) return false;
        for (const uint32_t d : fired) flips ^= uint64_t{1} << d;
        return true;
    }
};

Status run_echo(const std::vector<uint8_t>& in, BitRows in_layout, size_t n_shots, std::vector<uint8_t>& out,
                BitRows out_layout, bool parallel, std::atomic<size_t>& calls) {
    return predict_rows_from_events(
        in.data(), in_layout, n_shots, out.data(), out_layout, parallel, [&] { return EchoPredictor{&calls}; },
        [](std::span<const uint32_t> fired) { return value_error(std::to_string(fired.size()) + " events"); });
}

TEST(EventListRows, ShotsReachThePredictorAsTheirEventsAndQuietShotsSkipIt) {
    const size_t n = 12, shots = 400;
    Wyrand rng(9);
    std::vector<uint8_t> bytes(shots * n, 0);
    size_t busy_shots = 0;
    for (size_t s = 0; s < shots; ++s) {
        if (s % 3 == 0) continue;  // quiet
        size_t count = 0;
        do {
            count = 0;
            for (size_t d = 0; d < n; ++d) count += bytes[s * n + d] = rng.next_u64() % 3 == 0;
        } while (count % 5 == 0);
        ++busy_shots;
    }
    const size_t packed_width = 2;
    std::vector<uint8_t> packed(shots * packed_width);
    for (size_t s = 0; s < shots; ++s) pack_bits(&bytes[s * n], n, &packed[s * packed_width]);
    for (const bool in_packed : {false, true}) {
        for (const bool out_packed : {false, true}) {
            for (const bool parallel : {false, true}) {
                const BitRows out_layout{n, out_packed};
                std::vector<uint8_t> out(shots * out_layout.row_bytes(), 9);
                std::atomic<size_t> calls{0};
                ASSERT_TRUE(run_echo(in_packed ? packed : bytes, BitRows{n, in_packed}, shots, out, out_layout,
                                     parallel, calls));
                EXPECT_EQ(calls.load(), busy_shots);
                for (size_t s = 0; s < shots; ++s) {
                    std::vector<uint8_t> expected(out_layout.row_bytes());
                    if (out_packed) pack_bits(&bytes[s * n], n, expected.data());
                    else std::copy(&bytes[s * n], &bytes[s * n] + n, expected.begin());
                    EXPECT_TRUE(std::equal(expected.begin(), expected.end(), &out[s * out_layout.row_bytes()])) << s;
                }
            }
        }
    }
}

// Shots with exactly two events fail here; the failure text names them.
Status run_pairs_fail(const std::vector<uint8_t>& rows, size_t n, bool parallel) {
    const size_t shots = rows.size() / n;
    std::vector<uint8_t> out(shots);
    return predict_rows_from_events(
        rows.data(), BitRows{n, false}, shots, out.data(), BitRows{1, false}, parallel,
        [] { return [](std::span<const uint32_t> fired, uint64_t&) { return fired.size() != 2; }; },
        [](std::span<const uint32_t> fired) {
            return value_error("cannot: " + std::to_string(fired[0]) + "," + std::to_string(fired[1]));
        });
}

TEST(EventListRows, TheEarliestFailedShotIsReportedWhateverItsKind) {
    const size_t n = 4, shots = 3000;
    for (const bool parallel : {false, true}) {
        std::vector<uint8_t> rows(shots * n, 0);
        auto set = [&](size_t shot, std::vector<uint8_t> row) { std::copy(row.begin(), row.end(), &rows[shot * n]); };
        set(2100, {1, 1, 1, 0});
        set(2900, {0, 0, 2, 0});
        set(2950, {1, 1, 0, 0});
        EXPECT_EQ(run_pairs_fail(rows, n, parallel).error().message,
                  "detection events must be 0 or 1; shot 2900 has 2 at detector 2");
        set(2700, {0, 1, 0, 1});
        EXPECT_EQ(run_pairs_fail(rows, n, parallel).error().message, "cannot: 1,3");
        set(40, {0, 0, 0, 3});
        EXPECT_EQ(run_pairs_fail(rows, n, parallel).error().message,
                  "detection events must be 0 or 1; shot 40 has 3 at detector 3");
    }
}

}  // namespace
}  // namespace vornex
