// A list of 32-bit ids in a buffer sized once for the most it can hold, with
// a spare slot, so that a hot loop can append without a branch: it writes the
// next slot through data() and counts it only if it keeps it (set_size
// afterwards), for conditions the predictor cannot guess.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace vornex {

class IdList {
public:
    // Room for `capacity` ids; keeps the current ones.
    void reserve(size_t capacity) {
        if (slots_.size() < capacity + 1) slots_.resize(capacity + 1);
    }

    void push(uint32_t id) { slots_[size_++] = id; }
    void clear() { size_ = 0; }

    bool empty() const { return size_ == 0; }
    uint32_t size() const { return size_; }
    uint32_t* data() { return slots_.data(); }
    const uint32_t* begin() const { return slots_.data(); }
    const uint32_t* end() const { return slots_.data() + size_; }
    uint32_t* begin() { return slots_.data(); }
    uint32_t* end() { return slots_.data() + size_; }
    operator std::span<const uint32_t>() const { return {slots_.data(), size_}; }
    void set_size(uint32_t size) { size_ = size; }

private:
    std::vector<uint32_t> slots_;
    uint32_t size_ = 0;
};

}  // namespace vornex
