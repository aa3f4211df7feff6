#include "server/request_queue.h"

namespace vornex {

QueuedRequest* RequestQueue::next() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return closed_ || !waiting_.empty(); });
    if (waiting_.empty()) return nullptr;
    running_ = std::move(waiting_.front());
    waiting_.pop_front();
    queued_bytes_ -= running_->line_bytes;
    changed_.notify_all();
    return running_.get();
}

bool RequestQueue::has_waiting() {
    std::lock_guard lock(mutex_);
    return !waiting_.empty();
}

void RequestQueue::finish_running() {
    std::lock_guard lock(mutex_);
    running_.reset();
    changed_.notify_all();
}

void RequestQueue::cancel(const nlohmann::ordered_json& id) {
    std::lock_guard lock(mutex_);
    const auto flag = [&](QueuedRequest& r) {
        if (r.request && r.request->id == id) r.cancelled = true;
    };
    for (auto& r : waiting_) flag(*r);
    if (running_) flag(*running_);
}

void RequestQueue::cancel_all() {
    std::lock_guard lock(mutex_);
    for (auto& r : waiting_) r->cancelled = true;
    if (running_) running_->cancelled = true;
}

void RequestQueue::close() {
    std::lock_guard lock(mutex_);
    closed_ = true;
    changed_.notify_all();
}

bool RequestQueue::wait_drained(std::chrono::milliseconds poll) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, poll, [&] { return closed_ && waiting_.empty() && !running_; });
}

}  // namespace vornex
