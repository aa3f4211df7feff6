// Per-thread reusable scratch with a busy flag.
//
// Hot decode loops keep their buffers in one object per thread so that they
// grow once and are then reused. A nested use on the same thread (a worker
// that picks up another task while it waits) must not share the buffers in
// use, so the lease hands out a private instance instead.
#pragma once

#include <memory>

namespace vornex {

template <class T>
class ScratchLease {
public:
    ScratchLease() : shared_(thread_instance()) {
        if (shared_.busy) {
            own_ = std::make_unique<T>();
        } else {
            shared_.busy = true;
        }
    }
    ~ScratchLease() {
        if (!own_) shared_.busy = false;
    }
    ScratchLease(const ScratchLease&) = delete;
    ScratchLease& operator=(const ScratchLease&) = delete;

    T& get() { return own_ ? *own_ : shared_; }

private:
    static T& thread_instance() {
        thread_local T instance;
        return instance;
    }

    T& shared_;
    std::unique_ptr<T> own_;
};

}  // namespace vornex
