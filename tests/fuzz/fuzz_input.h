// Reads structured values out of a fuzz input; past the end every read is 0.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vornex::fuzz {

class Input {
public:
    Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
    uint8_t byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    uint32_t below(uint32_t n) { return n == 0 ? 0 : (uint32_t{byte()} << 8 | byte()) % n; }
    bool empty() const { return pos_ >= size_; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

}  // namespace vornex::fuzz
