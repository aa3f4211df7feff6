// Per-thread reusable scratch with a busy flag.
//
// Hot decode loops keep their buffers in one object per thread so that they
// grow once and are then reused. A nested use on the same thread (a worker
// that picks up another task while it waits) must not share the buffers in
// use, so the lease hands out a private instance instead.
//
// A lease left by an exception (an allocation that failed while the buffers
// grew, a call stopped from outside) has the thread's instance replaced by a
// fresh one before its next use: buffers caught half-grown would otherwise
// look ready to the next call on this thread. (Not at once: a destructor
// running during unwinding must not allocate.)
#pragma once

#include <exception>
#include <memory>

namespace vornex {

template <class T>
class ScratchLease {
public:
    ScratchLease() : shared_(thread_instance()), exceptions_(std::uncaught_exceptions()) {
        if (shared_.busy) {
            own_ = std::make_unique<T>();
            return;
        }
        bool& stale = thread_instance_stale();
        if (stale) {
            shared_ = T();
            stale = false;
        }
        shared_.busy = true;
    }
    ~ScratchLease() {
        if (own_) return;
        if (std::uncaught_exceptions() > exceptions_) thread_instance_stale() = true;
        shared_.busy = false;
    }
    ScratchLease(const ScratchLease&) = delete;
    ScratchLease& operator=(const ScratchLease&) = delete;

    T& get() { return own_ ? *own_ : shared_; }

private:
    static T& thread_instance() {
        thread_local T instance;
        return instance;
    }
    static bool& thread_instance_stale() {
        thread_local bool stale = false;
        return stale;
    }

    T& shared_;
    int exceptions_;  // exceptions in flight when the lease was taken
    std::unique_ptr<T> own_;
};

}  // namespace vornex
