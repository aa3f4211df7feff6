// The requests read but not yet answered, in arrival order, between the
// thread that reads lines and the one that answers them. Bounded, so a
// client that pipelines without reading answers stalls its own input
// instead of growing the server; searchable by id, so a cancellation
// reaches a request still waiting as well as the one running.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "server/json_rpc.h"

namespace vornex {

struct QueuedRequest {
    std::optional<std::string> answer;      // already known (a parse error), written in its turn
    std::optional<JsonRpcRequest> request;  // to be answered in its turn
    size_t line_bytes = 0;                  // its line's length, counted against the queue's budget
    std::atomic<bool> cancelled{false};     // set by a cancellation; read by the running call
};

class RequestQueue {
public:
    // At most `max_requests` waiting, holding at most `max_line_bytes` of
    // request lines between them (one larger line is let in alone).
    RequestQueue(size_t max_requests, size_t max_line_bytes)
        : max_requests_(max_requests), max_line_bytes_(max_line_bytes) {}

    // Appends a request, waiting while the queue is full. Every `poll` of
    // waiting, `keep_waiting()` is asked (on the calling thread); false
    // gives up and returns false.
    template <class KeepWaiting>
    bool push(std::unique_ptr<QueuedRequest> item, std::chrono::milliseconds poll, KeepWaiting keep_waiting) {
        std::unique_lock lock(mutex_);
        while (!closed_ && !has_room(item->line_bytes)) {
            if (changed_.wait_for(lock, poll) == std::cv_status::timeout) {
                lock.unlock();
                if (!keep_waiting()) return false;
                lock.lock();
            }
        }
        if (closed_) return true;  // the answering side has stopped: nothing more is answered
        queued_bytes_ += item->line_bytes;
        waiting_.push_back(std::move(item));
        changed_.notify_all();
        return true;
    }

    // The next request, which becomes the running one; null once the queue
    // is closed and empty. Waits while it is open and empty.
    QueuedRequest* next();

    // The running request is answered.
    void finish_running();

    // Whether a request is waiting behind the running one.
    bool has_waiting();

    // Flags every waiting or running request with this id.
    void cancel(const nlohmann::ordered_json& id);

    // Flags every request; the answering side skips the waiting ones.
    void cancel_all();

    // No more requests come; next() returns null after the waiting ones.
    void close();

    // Waits until closed and everything taken has been answered, for at
    // most `poll`; true when that is so.
    bool wait_drained(std::chrono::milliseconds poll);

private:
    bool has_room(size_t line_bytes) const {
        if (waiting_.empty()) return true;
        return waiting_.size() < max_requests_ && queued_bytes_ + line_bytes <= max_line_bytes_;
    }

    size_t max_requests_;
    size_t max_line_bytes_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::unique_ptr<QueuedRequest>> waiting_;
    std::unique_ptr<QueuedRequest> running_;  // taken by next(), until finish_running()
    size_t queued_bytes_ = 0;                 // line bytes of the waiting requests
    bool closed_ = false;
};

}  // namespace vornex
