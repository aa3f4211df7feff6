// Splits the server's input stream into request lines without ever holding
// more than one capped line: the bytes of a longer line are dropped as they
// arrive, so a client cannot make the server buffer (and then parse) a
// line of any size.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "base/result.h"

namespace vornex {

// Longest request line the server reads, line feed excluded (16 MiB). A
// check list of a million qubits fits; parsing costs a few dozen times the
// line, which the cap keeps to a few hundred megabytes.
inline constexpr size_t kMaxRequestLineBytes = size_t{16} << 20;

// Receives each line (its carriage return before the line feed dropped), or
// for a line longer than the cap an empty text with `too_long` set. An error
// stops the framing and is returned by feed()/finish().
using LineSink = std::function<Status(std::string_view line, bool too_long)>;

class LineFramer {
public:
    explicit LineFramer(size_t max_line_bytes = kMaxRequestLineBytes) : max_line_bytes_(max_line_bytes) {}

    // Passes every line that `bytes` completes to `sink`, in order.
    Status feed(std::string_view bytes, const LineSink& sink);

    // End of input: the last line if it had no line feed.
    Status finish(const LineSink& sink);

private:
    Status end_line(const LineSink& sink);

    size_t max_line_bytes_;
    std::string line_;       // the current line so far, while it is within the cap
    bool too_long_ = false;  // the current line passed the cap; its bytes are dropped
    bool started_ = false;   // the current line has at least one byte
};

}  // namespace vornex
