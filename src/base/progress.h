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

// Thrown on the calling thread when a sink that the worker pool polls
// (base/worker_pool.h, PollScope) says stop between two slices of a call.
struct WorkStopped {};

// One part of a larger job: reports units `offset + done` of the job's
// `total` to the job's sink (which may be null).
class PartProgress final : public ProgressSink {
public:
    PartProgress(ProgressSink* job, uint64_t offset, uint64_t total) : job_(job), offset_(offset), total_(total) {}
    bool report(uint64_t done, uint64_t) override { return job_ == nullptr || job_->report(offset_ + done, total_); }

private:
    ProgressSink* job_;
    uint64_t offset_;
    uint64_t total_;
};

}  // namespace vornex
