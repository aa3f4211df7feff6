// How a long native call reports progress and learns that its caller wants
// it to stop (Ctrl-C in Python). Native callers pass no sink.
#pragma once

#include <cstdint>

namespace vornex {

class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    // Called on the calling thread between chunks of work, `done` of `total`
    // units so far. False stops the call there; it keeps what it finished
    // and returns interrupted_error().
    virtual bool report(uint64_t done, uint64_t total) = 0;
};

}  // namespace vornex
