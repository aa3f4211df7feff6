// The server's loop on two file descriptors: lines in, one answer line out
// for each.
#pragma once

#include <functional>

#include "code/result.h"

namespace vornex {

// Reads lines from in_fd until end of input and writes each answer to out_fd.
// A read or write failure, or a line that is not UTF-8, ends the loop with
// "IO error: ...". When a read is interrupted by a signal, `interrupted` is
// asked whether to stop; if it says so the loop returns an error at once.
Status serve_lines(int in_fd, int out_fd, const std::function<bool()>& interrupted);

}  // namespace vornex
