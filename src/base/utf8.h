// UTF-8 checks for texts that cross into Python or onto the wire: both the
// tool server (request lines) and the GPU driver's texts must be valid
// before Python can decode them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vornex {

// Decodes the sequence starting at text[i] into `code_point` and returns its
// length, or 0 when it is not valid UTF-8 (truncated, bad continuation,
// overlong form, surrogate, or past U+10FFFF).
size_t utf8_char(std::string_view text, size_t i, uint32_t& code_point);

// Where the first sequence that is not valid UTF-8 starts, or npos.
size_t first_invalid_utf8(std::string_view text);

// True when the text is valid UTF-8.
bool is_valid_utf8(std::string_view text);

// True when every character of the (valid UTF-8) text is Unicode white space.
bool is_blank(std::string_view text);

// The text with every byte that does not start a valid sequence replaced by
// U+FFFD, so that Python can always decode it.
std::string utf8_lossy(std::string_view text);

}  // namespace vornex
