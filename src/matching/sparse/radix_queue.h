// Monotone priority queue on integer times (a radix heap).
//
// The engine only ever asks for events at or after the last time it popped,
// so items can sit in buckets keyed by the highest bit in which their time
// differs from that last time; a pop redistributes one bucket into lower
// ones. Each item moves at most 64 times in all, buckets keep their capacity
// between shots, and nothing is hashed or allocated once warm. A bit per
// bucket says which hold items, so finding the next one is one instruction.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "matching/sparse/sparse_types.h"

namespace vornex::sparse {

template <class Item>  // Item has a public `Time time`
class RadixQueue {
public:
    bool empty() const { return size_ == 0; }
    size_t size() const { return size_; }
    Time last_popped() const { return last_; }

    // Items earlier than the last pop are queued at the last pop's time.
    void push(Item item) {
        if (item.time < last_) item.time = last_;
        const size_t b = bucket_of(item.time);
        buckets_[b].push_back(item);
        if (b < 64) occupied_ |= uint64_t{1} << b;
        ++size_;
    }

    // Removes and returns an item of least time; the queue must not be empty.
    Item pop() {
        if (buckets_[0].empty()) refill_lowest();
        Item item = buckets_[0].back();
        buckets_[0].pop_back();
        --size_;
        if (buckets_[0].empty()) occupied_ &= ~uint64_t{1};
        return item;
    }

    void clear() {
        if (size_ != 0) {
            for (auto& b : buckets_) b.clear();
        }
        occupied_ = 0;
        size_ = 0;
        last_ = 0;
    }

private:
    size_t bucket_of(Time t) const {
        const uint64_t diff = static_cast<uint64_t>(t) ^ static_cast<uint64_t>(last_);
        return diff == 0 ? 0 : 64 - static_cast<size_t>(std::countl_zero(diff));
    }

    // Finds the first non-empty bucket, moves the clock to its least time and
    // spreads its items over the buckets below (the least lands in bucket 0).
    void refill_lowest() {
        // Bucket 64 (times 2^63 apart, which the engine never makes) has no bit.
        const size_t i = occupied_ != 0 ? static_cast<size_t>(std::countr_zero(occupied_)) : 64;
        occupied_ &= occupied_ - 1;
        Time least = buckets_[i][0].time;
        for (const Item& it : buckets_[i]) least = it.time < least ? it.time : least;
        last_ = least;
        for (const Item& it : buckets_[i]) {
            const size_t b = bucket_of(it.time);  // below i
            buckets_[b].push_back(it);
            occupied_ |= uint64_t{1} << b;
        }
        buckets_[i].clear();
    }

    std::array<std::vector<Item>, 65> buckets_{};
    uint64_t occupied_ = 0;  // bit b: bucket b (< 64) holds items
    size_t size_ = 0;
    Time last_ = 0;
};

}  // namespace vornex::sparse
