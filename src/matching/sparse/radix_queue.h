// Monotone priority queue on integer times (a radix heap).
//
// The engine only ever asks for events at or after the last time it popped,
// so items can sit in buckets keyed by the highest bit in which their time
// differs from that last time; a pop redistributes one bucket into lower
// ones. Each item moves at most 64 times in all, buckets keep their capacity
// between shots, and nothing is hashed or allocated once warm.
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
        buckets_[bucket_of(item.time)].push_back(item);
        ++size_;
    }

    // Removes and returns an item of least time; the queue must not be empty.
    Item pop() {
        if (buckets_[0].empty()) refill_lowest();
        Item item = buckets_[0].back();
        buckets_[0].pop_back();
        --size_;
        return item;
    }

    void clear() {
        for (auto& b : buckets_) b.clear();
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
        size_t i = 1;
        while (buckets_[i].empty()) ++i;
        Time least = buckets_[i][0].time;
        for (const Item& it : buckets_[i]) least = it.time < least ? it.time : least;
        last_ = least;
        for (const Item& it : buckets_[i]) buckets_[bucket_of(it.time)].push_back(it);
        buckets_[i].clear();
    }

    std::array<std::vector<Item>, 65> buckets_{};
    size_t size_ = 0;
    Time last_ = 0;
};

}  // namespace vornex::sparse
