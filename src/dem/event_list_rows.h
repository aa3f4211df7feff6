// Shots in, observable predictions out, for engines that take the list of
// fired detectors and return the observable flips as one 64-bit mask (a
// matching engine tracking observables along its paths).
//
// Row layouts are those of shot_rows.h. Rows are read a 64-bit word at a
// time and fired detectors taken with countr_zero, so a shot costs its
// row's words plus its events, never a byte-by-byte unpack; predictions are
// written straight from the mask. Such a predictor is a callable
//   predictor(std::span<const uint32_t> fired, uint64_t& flips) -> bool
// that is false when the shot cannot be decoded; make_predictor() is called
// once per piece of the worker pool's split.
#pragma once

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "base/result.h"
#include "base/worker_pool.h"
#include "dem/shot_rows.h"

namespace vornex {

namespace detail {

// Loads up to 8 bytes as a little-endian word (missing bytes are 0). A
// whole word is one load; a row's short tail is assembled byte by byte, as
// a copy of a length known only at run time would call the library.
inline uint64_t load_word(const uint8_t* bytes, size_t n) {
    uint64_t word = 0;
    if (std::endian::native == std::endian::little && n == 8) {
        std::memcpy(&word, bytes, 8);
        return word;
    }
    for (size_t k = 0; k < n; ++k) word |= uint64_t{bytes[k]} << (8 * k);
    return word;
}

inline constexpr uint64_t kLowBitOfEachByte = 0x0101010101010101ULL;

}  // namespace detail

// Fired detectors of one packed row (n_bits bits; padding bits ignored)
// written to `fired`, which holds at least n_bits entries; returns how many.
inline size_t fired_of_packed_row(const uint8_t* row, size_t n_bits, uint32_t* fired) {
    size_t count = 0;
    const size_t row_bytes = (n_bits + 7) / 8;
    for (size_t at = 0; at < row_bytes; at += 8) {
        uint64_t word = detail::load_word(row + at, std::min<size_t>(8, row_bytes - at));
        const size_t first_bit = at * 8;
        if (n_bits - first_bit < 64) word &= (uint64_t{1} << (n_bits - first_bit)) - 1;
        for (; word != 0; word &= word - 1)
            fired[count++] = static_cast<uint32_t>(first_bit + static_cast<size_t>(std::countr_zero(word)));
    }
    return count;
}

// Fired detectors of one row of 0/1 bytes written to `fired` (at least
// n_bytes entries); returns how many, or SIZE_MAX when a byte is neither 0
// nor 1.
inline size_t fired_of_byte_row(const uint8_t* row, size_t n_bytes, uint32_t* fired) {
    size_t count = 0;
    for (size_t at = 0; at < n_bytes; at += 8) {
        uint64_t word = detail::load_word(row + at, std::min<size_t>(8, n_bytes - at));
        if (word & ~detail::kLowBitOfEachByte) return SIZE_MAX;
        // Every set bit is bit 0 of a byte holding 1.
        for (; word != 0; word &= word - 1)
            fired[count++] = static_cast<uint32_t>(at + static_cast<size_t>(std::countr_zero(word)) / 8);
    }
    return count;
}

// Writes the low `layout.n_bits` bits of `flips` as one output row.
inline void write_flips(uint64_t flips, BitRows layout, uint8_t* out_row) {
    if (layout.bit_packed) {
        for (size_t b = 0; b < layout.row_bytes(); ++b) out_row[b] = static_cast<uint8_t>(flips >> (8 * b));
    } else {
        for (size_t o = 0; o < layout.n_bits; ++o) out_row[o] = static_cast<uint8_t>((flips >> o) & 1);
    }
}

namespace detail {

enum class RowFailure { None, NotABit, Undecodable };

struct FirstFailure {
    size_t shot = SIZE_MAX;
    RowFailure kind = RowFailure::None;
};

// Predicts shots [begin, end) and stops at the first that fails. Observables
// beyond bit 63 are never set (the caller refuses such models).
template <class Predictor>
FirstFailure predict_event_range(Predictor& predictor, const uint8_t* in, BitRows in_layout, uint8_t* out,
                                 BitRows out_layout, size_t begin, size_t end, std::vector<uint32_t>& fired) {
    const size_t in_bytes = in_layout.row_bytes();
    const size_t out_bytes = out_layout.row_bytes();
    for (size_t shot = begin; shot < end; ++shot) {
        const uint8_t* row = in + shot * in_bytes;
        const size_t count = in_layout.bit_packed ? fired_of_packed_row(row, in_layout.n_bits, fired.data())
                                                  : fired_of_byte_row(row, in_bytes, fired.data());
        if (count == SIZE_MAX) return {shot, RowFailure::NotABit};
        uint64_t flips = 0;
        if (count != 0 && !predictor(std::span<const uint32_t>(fired.data(), count), flips)) {
            return {shot, RowFailure::Undecodable};
        }
        write_flips(flips, out_layout, out + shot * out_bytes);
    }
    return {};
}

}  // namespace detail

// Predicts n_shots rows, on the worker pool when `parallel`. A shot without
// events predicts no flips and skips the engine. On failure the status names
// the earliest failed shot: non_bit_error for a bad byte, else
// make_failure(fired) with that shot's fired detectors; the output is then
// incomplete.
template <class MakePredictor, class MakeFailure>
Status predict_rows_from_events(const uint8_t* in, BitRows in_layout, size_t n_shots, uint8_t* out,
                                BitRows out_layout, bool parallel, MakePredictor&& make_predictor,
                                MakeFailure&& make_failure) {
    // Earliest failure as shot * 2 + (1 for a bad byte), one word so that
    // the shot and its kind change together.
    std::atomic<size_t> first_bad{SIZE_MAX};
    auto run = [&](size_t begin, size_t end) {
        auto predictor = make_predictor();
        std::vector<uint32_t> fired(in_layout.n_bits);
        const detail::FirstFailure failure =
            detail::predict_event_range(predictor, in, in_layout, out, out_layout, begin, end, fired);
        if (failure.kind == detail::RowFailure::None) return;
        const size_t code = failure.shot * 2 + (failure.kind == detail::RowFailure::NotABit ? 1 : 0);
        lower_atomically(first_bad, code);
    };
    for_ranges(n_shots, parallel, run);
    const size_t code = first_bad.load();
    if (code == SIZE_MAX) return ok_status();
    const size_t shot = code / 2;
    if (code & 1) return non_bit_error(in, in_layout.row_bytes(), shot);
    std::vector<uint32_t> fired(in_layout.n_bits);
    const uint8_t* row = in + shot * in_layout.row_bytes();
    const size_t count = in_layout.bit_packed ? fired_of_packed_row(row, in_layout.n_bits, fired.data())
                                              : fired_of_byte_row(row, in_layout.row_bytes(), fired.data());
    return make_failure(std::span<const uint32_t>(fired.data(), count));
}

}  // namespace vornex
