#include "server/stdio_loop.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <optional>
#include <pthread.h>
#include <string>
#include <string_view>
#include <thread>
#include <unistd.h>
#include <vector>

#include "server/mcp_server.h"
#include "server/request_queue.h"

namespace vornex {
namespace {

using Clock = std::chrono::steady_clock;

// How often a waiting reader asks whether it was interrupted.
constexpr std::chrono::milliseconds kPoll{100};
// Least time between two progress notifications of one call.
constexpr std::chrono::milliseconds kProgressInterval{100};
// Answers gathered into one write while more requests wait behind them.
constexpr size_t kWriteBatchBytes = size_t{64} << 10;

std::string io_error(int err) { return std::string("IO error: ") + std::strerror(err); }

Status write_all(int fd, std::string_view text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return runtime_error(io_error(errno));
        }
        done += static_cast<size_t>(n);
    }
    return ok_status();
}

// The answering side: one thread that takes requests in order, answers
// them and writes the answers. Only it writes to out_fd.
class Answerer {
public:
    Answerer(RequestQueue& queue, int out_fd, const HostedTools& hosted)
        : queue_(queue), out_fd_(out_fd), hosted_(hosted) {
        // Signals go to the reading thread, whose blocking read they must
        // interrupt; this thread runs no signal handler.
        sigset_t all, old;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &old);
        thread_ = std::thread([this] { run(); });
        pthread_sigmask(SIG_SETMASK, &old, nullptr);
    }
    ~Answerer() {
        queue_.close();
        thread_.join();
    }
    Answerer(const Answerer&) = delete;
    Answerer& operator=(const Answerer&) = delete;

    // The first write failure, or success.
    Status status() {
        std::lock_guard lock(mutex_);
        return status_;
    }

private:
    // Reports a running call's progress to the client (when it asked for
    // it) and stops the call once the client cancels it.
    class CallProgress final : public ProgressSink {
    public:
        CallProgress(Answerer& answerer, const QueuedRequest& item)
            : answerer_(answerer), item_(item), token_(progress_token(*item.request)), last_(Clock::now()) {}
        bool report(uint64_t done, uint64_t total) override {
            if (item_.cancelled) return false;
            // Notices must show progress increasing: a report that repeats
            // the last one only asks whether to go on.
            const bool advanced = !sent_ || done > last_done_;
            if (token_ && advanced && Clock::now() - last_ >= kProgressInterval) {
                last_ = Clock::now();
                sent_ = true;
                last_done_ = done;
                answerer_.write_line(progress_notification(*token_, done, total));
                answerer_.flush();
            }
            return true;
        }

    private:
        Answerer& answerer_;
        const QueuedRequest& item_;
        std::optional<nlohmann::ordered_json> token_;
        Clock::time_point last_;
        bool sent_ = false;       // a notice went out
        uint64_t last_done_ = 0;  // its count
    };

    // Lines wait in pending_ until flush(), so that a pipelining client's
    // answers go out a batch per write.
    void write_line(const std::string& line) {
        if (failed_ || line.empty()) return;
        pending_ += line;
        pending_ += '\n';
    }

    void flush() {
        if (failed_ || pending_.empty()) return;
        Status st = write_all(out_fd_, pending_);
        pending_.clear();
        if (!st) {
            failed_ = true;
            std::lock_guard lock(mutex_);
            status_ = std::move(st);
        }
    }

    std::string answer(QueuedRequest& item) {
        if (item.answer) return std::move(*item.answer);
        if (item.cancelled) return cancelled_answer(item.request->id);
        CallProgress progress(*this, item);
        std::string text = answer_request(*item.request, &progress, &hosted_);
        return item.cancelled ? cancelled_answer(item.request->id) : text;
    }

    void run() {
        while (QueuedRequest* item = queue_.next()) {
            // After a write failure the rest is taken and dropped, so that
            // the reader never waits on a full queue.
            if (!failed_) {
                try {
                    write_line(answer(*item));
                } catch (const std::exception&) {
                    // Only memory can run out here; the request goes unanswered.
                }
                // Written before the request counts as answered, and at once
                // unless more requests wait behind it.
                if (pending_.size() >= kWriteBatchBytes || !queue_.has_waiting()) flush();
            }
            queue_.finish_running();
        }
    }

    RequestQueue& queue_;
    int out_fd_;
    const HostedTools& hosted_;
    bool failed_ = false;  // a write failed; touched by this thread only
    std::string pending_;  // answer lines not yet written; touched by this thread only
    std::mutex mutex_;
    Status status_ = ok_status();
    std::thread thread_;
};

std::unique_ptr<QueuedRequest> queued(LineAction action, size_t line_bytes) {
    auto item = std::make_unique<QueuedRequest>();
    item->answer = std::move(action.answer);
    item->request = std::move(action.request);
    item->line_bytes = line_bytes;
    return item;
}

}  // namespace

Status serve_lines(int in_fd, int out_fd, const std::function<bool()>& interrupted) {
    return serve_lines(in_fd, out_fd, interrupted, ServeLimits{});
}

Status serve_lines(int in_fd, int out_fd, const std::function<bool()>& interrupted, const ServeLimits& limits) {
    return serve_lines(in_fd, out_fd, interrupted, limits, HostedTools{});
}

Status serve_lines(int in_fd, int out_fd, const std::function<bool()>& interrupted, const ServeLimits& limits,
                   const HostedTools& hosted) {
    // Anything the process buffered in C stdio goes out before the answers.
    std::fflush(stdout);
    RequestQueue queue(limits.max_waiting_requests, limits.max_waiting_bytes);
    Answerer answerer(queue, out_fd, hosted);
    const auto keep_waiting = [&] { return !(interrupted && interrupted()); };
    // Whatever ends the loop early cancels what is left, so that the
    // answering thread can be joined at once.
    const auto fail = [&](Status st) {
        queue.cancel_all();
        return st;
    };
    const auto stop = [&] { return fail(runtime_error("interrupted")); };

    const LineSink on_line = [&](std::string_view line, bool too_long) -> Status {
        LineAction action;
        if (too_long)
            action.answer = too_long_answer(limits.max_line_bytes);
        else
            action = read_request_line(line);
        if (action.cancel) queue.cancel(*action.cancel);
        if (action.answer || action.request) {
            if (!queue.push(queued(std::move(action), line.size()), kPoll, keep_waiting)) return stop();
        }
        return answerer.status();
    };

    LineFramer framer(limits.max_line_bytes);
    std::vector<char> chunk(1 << 16);
    for (;;) {
        const ssize_t n = ::read(in_fd, chunk.data(), chunk.size());
        if (n < 0) {
            if (errno != EINTR) return fail(runtime_error(io_error(errno)));
            if (!keep_waiting()) return stop();
            continue;
        }
        if (n == 0) break;
        if (Status st = framer.feed(std::string_view(chunk.data(), static_cast<size_t>(n)), on_line); !st) return fail(st);
    }
    if (Status st = framer.finish(on_line); !st) return fail(st);
    queue.close();
    while (!queue.wait_drained(kPoll))
        if (!keep_waiting()) return stop();
    return answerer.status();
}

}  // namespace vornex
