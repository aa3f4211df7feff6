// The process-wide work-stealing worker pool.
//
// One oneTBB arena with one worker per CPU this process may run on (its
// affinity mask, so a process pinned to one CPU runs one), created on first use
// and kept for the life of the process. Index ranges are split by recursive
// halving; the calling thread joins in and returns when every index is done.
// Bodies must touch only native state: workers never see Python objects.
//
// A caller that must be able to stop a long call (Ctrl-C) opens a PollScope
// on its thread: every parallel call it then makes runs its indices in
// slices of roughly 50 to 100 ms and asks the scope's sink between slices
// whether to go on, so any call that spreads work over the pool can be
// stopped without knowing it. A stop unwinds as WorkStopped. Work whose one
// step can outlast a slice asks stop_requested() between steps.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <thread>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/task_group.h>
#include <tbb/task_arena.h>

#include "base/progress.h"

namespace vornex {

// The shared arena. VORNEX_NUM_THREADS, read once on first use, overrides
// the worker count (useful to check that results do not depend on it).
tbb::task_arena& worker_arena();

// Threads for the pool: `requested` (the VORNEX_NUM_THREADS text) when it is
// a whole number in 1 .. 4096, otherwise the CPUs available (at least one).
size_t choose_worker_count(const char* requested, size_t available_cpus);

// Number of threads the pool runs on.
size_t worker_count();

namespace detail {

// Points a thread's pointer at `value` for the life of the scope and puts
// back the one it had before, so scopes nest.
template <class T>
class ThreadPointerScope {
public:
    ThreadPointerScope(T*& slot, T* value) : slot_(slot), previous_(slot) { slot_ = value; }
    ~ThreadPointerScope() { slot_ = previous_; }
    ThreadPointerScope(const ThreadPointerScope&) = delete;
    ThreadPointerScope& operator=(const ThreadPointerScope&) = delete;

private:
    T*& slot_;
    T* const previous_;
};

// This thread's polling sink (PollScope) and slice stop (below).
ProgressSink*& poll_sink_slot();
struct SliceStop;
SliceStop*& slice_stop_slot();

}  // namespace detail

// While alive, parallel calls made on this thread run in slices and report
// (indices done, indices of the call) to `sink` between slices; false from
// it throws WorkStopped. Scopes nest; a null sink turns polling off. Work
// done inside a slice (a nested parallel call) is never polled, so a stop
// only ever unwinds from between whole slices.
class PollScope : detail::ThreadPointerScope<ProgressSink> {
public:
    explicit PollScope(ProgressSink* sink) : ThreadPointerScope(detail::poll_sink_slot(), sink) {}

    // The sink of this thread's innermost scope, or null.
    static ProgressSink* current() { return detail::poll_sink_slot(); }
};

// Inside a slice of a polled call: true once the call is being stopped.
// Work whose single step can outlast a slice (one Relay-BP shot running
// hundreds of legs, say) asks between steps and returns early; the call
// unwinds as WorkStopped when the slice ends, so what such work leaves half
// done is never used. Only the calling thread asks the sink, about every
// 50 ms, whether it is working in the slice or waiting for the workers to
// finish theirs. False outside polled calls.
bool stop_requested();

namespace detail {

// The stop of one slice, seen by every thread that runs a piece of it.
struct SliceStop {
    SliceStop(ProgressSink& sink, uint64_t total) : sink(sink), total(total) {}

    // True once the call is being stopped; on `caller`, asks the sink first
    // when its next look is due.
    bool requested();

    std::atomic<bool> stopped{false};  // set once the sink said no
    ProgressSink& sink;                // asked only on `caller`
    const std::thread::id caller = std::this_thread::get_id();
    const uint64_t total;                           // indices of the call
    uint64_t done = 0;                              // indices before this slice
    std::chrono::steady_clock::time_point next_ask;  // caller's next look at the sink
};

// A pool of one runs the work on the calling thread itself: an arena of one
// slot would queue concurrent callers one behind the other, where callers
// on their own threads (one worker per Python thread, say) run side by side.
template <class Body>
void run_on_pool(size_t begin, size_t end, Body& body) {
    if (worker_count() == 1) {
        body(begin, end);
        return;
    }
    worker_arena().execute([&] {
        tbb::parallel_for(tbb::blocked_range<size_t>(begin, end, 1),
                          [&](const tbb::blocked_range<size_t>& r) { body(r.begin(), r.end()); });
    });
}

// The threads of one slice take chunks of its indices from a shared counter
// until none is left or the call is stopped. The calling thread takes
// chunks too and, once none is left, waits for the workers' last chunks
// while it keeps asking the sink: a worker may be deep in a step that takes
// seconds, and only a stop seen by the caller reaches it.
class SliceChunks {
public:
    SliceChunks(size_t begin, size_t end, size_t chunk, SliceStop& stop)
        : next_(begin), end_(end), chunk_(chunk), stop_(stop) {}

    // Runs chunks on this thread until none is left or the call stops.
    template <class Body>
    void take(Body& body) {
        ThreadPointerScope<SliceStop> scope(slice_stop_slot(), &stop_);
        Taking taking(*this);
        while (!stop_requested()) {
            const size_t begin = next_.fetch_add(chunk_);
            if (begin >= end_) return;
            body(begin, std::min(end_, begin + chunk_));
        }
    }

    // On the calling thread, after its own take(): returns once every chunk a
    // worker took is done, asking the sink about every 50 ms meanwhile.
    void wait_for_workers();

private:
    // Counts a thread as taking chunks for as long as it might hold one.
    struct Taking {
        explicit Taking(SliceChunks& chunks);
        ~Taking();
        SliceChunks& chunks;
    };

    std::atomic<size_t> next_;    // first index no thread has taken yet
    const size_t end_;            // one past the slice's last index
    const size_t chunk_;          // indices a thread takes at once
    SliceStop& stop_;             // the call's stop, asked between chunks
    size_t taking_ = 0;           // threads between Taking and ~Taking, under mutex_
    std::mutex mutex_;            // guards taking_
    std::condition_variable idle_;  // signalled when taking_ drops to zero
};

// Runs indices [begin, end) of a polled call on the pool, the calling
// thread among its workers.
template <class Body>
void run_slice(size_t begin, size_t end, SliceStop& stop, Body& body) {
    const size_t workers = worker_count();
    // Small chunks keep the threads finishing together when one index costs
    // much more than another; a slice lasts 50 to 200 ms, so a few dozen
    // counter increments in it cost nothing.
    SliceChunks chunks(begin, end, std::max<size_t>(1, (end - begin) / (8 * workers)), stop);
    if (workers == 1) {
        chunks.take(body);
        return;
    }
    worker_arena().execute([&] {
        tbb::task_group helpers;
        for (size_t i = 1; i < workers; ++i) helpers.run([&] { chunks.take(body); });
        try {
            chunks.take(body);
        } catch (...) {
            stop.stopped.store(true);  // the others take no more chunks
            chunks.wait_for_workers();
            helpers.wait();
            throw;
        }
        chunks.wait_for_workers();
        helpers.wait();  // rethrows what a worker's chunk threw
    });
}

// Slices of a polled call: the first as many indices as workers, then
// doubled while a slice takes under 50 ms and halved when one takes over
// 200 ms, so a stop is seen within about a slice whatever an index costs.
template <class Body>
void run_in_slices(size_t n, ProgressSink& sink, Body& body) {
    using Clock = std::chrono::steady_clock;
    size_t slice = worker_count();
    SliceStop stop(sink, n);
    for (size_t begin = 0; begin < n;) {
        const size_t end = begin + std::min(slice, n - begin);
        const auto started = Clock::now();
        stop.done = begin;
        stop.next_ask = started + std::chrono::milliseconds(50);
        {
            PollScope quiet(nullptr);
            run_slice(begin, end, stop, body);
        }
        if (stop.stopped.load()) throw WorkStopped{};
        const auto took = Clock::now() - started;
        begin = end;
        if (begin < n && !sink.report(begin, n)) throw WorkStopped{};
        if (took < std::chrono::milliseconds(50))
            slice *= 2;
        else if (took > std::chrono::milliseconds(200) && slice > 1)
            slice /= 2;
    }
}

}  // namespace detail

// Calls body(begin, end) on disjoint pieces covering [0, n).
template <class Body>
void parallel_for_ranges(size_t n, Body&& body) {
    if (n == 0) return;
    if (ProgressSink* sink = PollScope::current())
        detail::run_in_slices(n, *sink, body);
    else
        detail::run_on_pool(0, n, body);
}

// Calls body(begin, end) on pieces covering [0, n): on the pool when
// `parallel`, otherwise once, on this thread.
template <class Body>
void for_ranges(size_t n, bool parallel, Body&& body) {
    if (parallel)
        parallel_for_ranges(n, body);
    else if (n > 0)
        body(size_t{0}, n);
}

// Lowers `least` to `value` when that is smaller, from any thread: pieces
// that finish in any order agree on the first shot that failed.
inline void lower_atomically(std::atomic<size_t>& least, size_t value) {
    size_t seen = least.load();
    while (value < seen && !least.compare_exchange_weak(seen, value)) {
    }
}

// Calls body(i) for every i in [0, n), in parallel.
template <class Body>
void parallel_for(size_t n, Body&& body) {
    parallel_for_ranges(n, [&](size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) body(i);
    });
}

}  // namespace vornex
