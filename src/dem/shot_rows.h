// Shots in, observable predictions out: the driver every decoder built from a
// detector error model shares.
//
// Rows are either one byte per bit (0 or 1) or bits packed into
// ceil(bits / 8) bytes, little bit order (bit k of a row is bit k % 8 of
// byte k / 8), the layout of the usual samplers' packed output.
//
// A decoder plugs in as a predictor: a callable
//   predictor(std::span<const uint8_t> detection_events, std::span<uint8_t> observables)
// that reads one byte (0 or 1) per detector and XORs its predicted flips into
// `observables`, one byte per observable, zeroed beforehand. make_predictor()
// is called once per piece of the worker pool's split, so a predictor may own
// scratch (a workspace, a correction row) that it reuses shot after shot.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/result.h"
#include "base/worker_pool.h"

namespace vornex {

struct BitRows {
    size_t n_bits = 0;
    bool bit_packed = false;

    size_t row_bytes() const { return bit_packed ? (n_bits + 7) / 8 : n_bits; }
};

// Spreads a packed row into one byte per bit; padding bits are ignored.
inline void unpack_bits(const uint8_t* packed, size_t n_bits, uint8_t* bytes) {
    for (size_t k = 0; k < n_bits; ++k) bytes[k] = (packed[k >> 3] >> (k & 7)) & 1;
}

// Packs one byte per bit (0 or 1) into a row; padding bits are written 0.
inline void pack_bits(const uint8_t* bytes, size_t n_bits, uint8_t* packed) {
    std::fill(packed, packed + (n_bits + 7) / 8, uint8_t{0});
    for (size_t k = 0; k < n_bits; ++k) packed[k >> 3] |= static_cast<uint8_t>((bytes[k] & 1) << (k & 7));
}

// OR of a row's bytes: 0 for a shot without events; a bit above bit 0 set
// when some byte is neither 0 nor 1.
inline uint8_t or_of_bytes(const uint8_t* bytes, size_t n) {
    uint8_t any = 0;
    for (size_t k = 0; k < n; ++k) any |= bytes[k];
    return any;
}

// Index of the first byte that is neither 0 nor 1, or n when there is none.
inline size_t first_non_bit(const uint8_t* bytes, size_t n) {
    return static_cast<size_t>(std::find_if(bytes, bytes + n, [](uint8_t b) { return b > 1; }) - bytes);
}

inline Error non_bit_error(const uint8_t* rows, size_t row_bytes, size_t shot) {
    const uint8_t* row = rows + shot * row_bytes;
    const size_t k = first_non_bit(row, row_bytes);
    return value_error("detection events must be 0 or 1; shot " + std::to_string(shot) + " has " +
                       std::to_string(row[k]) + " at detector " + std::to_string(k));
}

namespace detail {

// Predicts shots [begin, end); returns the first shot with a byte other than
// 0 or 1 (unpacked input), or SIZE_MAX.
// Predicts shots [begin, end); returns the first shot with a byte other than
// 0 or 1 (unpacked input), or SIZE_MAX. A shot without events predicts no
// flips (the empty syndrome's correction is empty) and skips the decoder, so
// quiet shots cost only the scan of their row.
template <class Predictor>
size_t predict_shot_range(Predictor& predictor, const uint8_t* in, BitRows in_layout, uint8_t* out,
                          BitRows out_layout, size_t begin, size_t end, std::vector<uint8_t>& events,
                          std::vector<uint8_t>& observables) {
    const size_t n_detectors = in_layout.n_bits;
    for (size_t shot = begin; shot < end; ++shot) {
        const uint8_t* row = in + shot * in_layout.row_bytes();
        uint8_t* out_row = out + shot * out_layout.row_bytes();
        const uint8_t any = or_of_bytes(row, in_layout.row_bytes());
        if (!in_layout.bit_packed && (any & 0xFE)) return shot;
        if (any == 0) {
            std::fill(out_row, out_row + out_layout.row_bytes(), uint8_t{0});
            continue;
        }
        const uint8_t* bytes = row;
        if (in_layout.bit_packed) {
            unpack_bits(row, n_detectors, events.data());
            bytes = events.data();
        }
        std::fill(observables.begin(), observables.end(), uint8_t{0});
        predictor(std::span<const uint8_t>(bytes, n_detectors), std::span<uint8_t>(observables));
        if (out_layout.bit_packed) {
            pack_bits(observables.data(), out_layout.n_bits, out_row);
        } else {
            std::copy(observables.begin(), observables.end(), out_row);
        }
    }
    return SIZE_MAX;
}

}  // namespace detail

// Predicts n_shots rows; with `parallel` the rows go to the worker pool. The
// output is complete only when the status is ok (a bad input byte stops it).
template <class MakePredictor>
Status predict_observable_rows(const uint8_t* in, BitRows in_layout, size_t n_shots, uint8_t* out,
                               BitRows out_layout, bool parallel, MakePredictor&& make_predictor) {
    std::atomic<size_t> first_bad{n_shots};
    auto run = [&](size_t begin, size_t end) {
        auto predictor = make_predictor();
        std::vector<uint8_t> events(in_layout.bit_packed ? in_layout.n_bits : 0);
        std::vector<uint8_t> observables(out_layout.n_bits);
        const size_t bad =
            detail::predict_shot_range(predictor, in, in_layout, out, out_layout, begin, end, events, observables);
        lower_atomically(first_bad, bad);
    };
    for_ranges(n_shots, parallel, run);
    if (first_bad.load() < n_shots) return non_bit_error(in, in_layout.row_bytes(), first_bad.load());
    return ok_status();
}

}  // namespace vornex
