// The server's loop on two file descriptors: lines in, one answer line out
// for each request with an id, in arrival order. The calling thread reads
// (and handles cancellations at once); one worker thread answers, so a
// long tool call can be cancelled while it runs.
#pragma once

#include <cstddef>
#include <functional>

#include "base/result.h"
#include "server/hosted_tool.h"
#include "server/line_framer.h"

namespace vornex {

// How much the loop holds at once.
struct ServeLimits {
    size_t max_line_bytes = kMaxRequestLineBytes;  // longer lines are answered with an error, never buffered
    size_t max_waiting_requests = 1024;            // read but not yet answered
    size_t max_waiting_bytes = size_t{64} << 20;   // line bytes of those requests
};

// Reads lines from in_fd until end of input, answers every request read,
// and writes the answers (and progress notifications) to out_fd. A read or
// write failure ends the loop with "IO error: ...". When a read or a wait is
// interrupted by a signal, `interrupted` (may be empty) is asked on the
// calling thread whether to stop; if it says so, running and waiting
// requests are cancelled and the loop returns an error.
Status serve_lines(int in_fd, int out_fd, const std::function<bool()>& interrupted);
Status serve_lines(int in_fd, int out_fd, const std::function<bool()>& interrupted, const ServeLimits& limits);
// The same with tools the host adds to the server's own; they run on the
// answering thread.
Status serve_lines(int in_fd, int out_fd, const std::function<bool()>& interrupted, const ServeLimits& limits,
                   const HostedTools& hosted);

}  // namespace vornex
