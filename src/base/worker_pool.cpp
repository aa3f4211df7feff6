#include "base/worker_pool.h"

#include <sched.h>

#include <cstdlib>
#include <memory>
#include <thread>

#include <tbb/global_control.h>
#include <tbb/info.h>

namespace vornex {
namespace {

size_t cpus_this_process_may_use() {
    cpu_set_t mask;
    CPU_ZERO(&mask);
    if (sched_getaffinity(0, sizeof(mask), &mask) == 0) {
        const int count = CPU_COUNT(&mask);
        if (count > 0) return static_cast<size_t>(count);
    }
    const unsigned hardware = std::thread::hardware_concurrency();
    return hardware == 0 ? 1 : hardware;
}

}  // namespace

size_t choose_worker_count(const char* requested, size_t available_cpus) {
    if (requested) {
        char* end = nullptr;
        const long value = std::strtol(requested, &end, 10);
        if (end != requested && *end == '\0' && value > 0 && value <= 4096) return static_cast<size_t>(value);
    }
    return available_cpus == 0 ? 1 : available_cpus;
}

tbb::task_arena& worker_arena() {
    // Function-local statics: thread-safe construction on first use, never
    // torn down before the process ends.
    static const int concurrency =
        static_cast<int>(choose_worker_count(std::getenv("VORNEX_NUM_THREADS"), cpus_this_process_may_use()));
    // oneTBB lets arenas share only as many workers as the CPUs it sees; an
    // explicit request beyond that raises its limit instead of printing a
    // warning and running short-handed.
    static const auto limit = concurrency > tbb::info::default_concurrency()
                                  ? std::make_unique<tbb::global_control>(
                                        tbb::global_control::max_allowed_parallelism, static_cast<size_t>(concurrency))
                                  : nullptr;
    static tbb::task_arena* arena = new tbb::task_arena(concurrency);
    return *arena;
}

size_t worker_count() { return static_cast<size_t>(worker_arena().max_concurrency()); }

namespace detail {

ProgressSink*& poll_sink_slot() {
    thread_local ProgressSink* sink = nullptr;
    return sink;
}

SliceStop*& slice_stop_slot() {
    thread_local SliceStop* stop = nullptr;
    return stop;
}

SliceChunks::Taking::Taking(SliceChunks& chunks) : chunks(chunks) {
    std::lock_guard lock(chunks.mutex_);
    ++chunks.taking_;
}

SliceChunks::Taking::~Taking() {
    std::lock_guard lock(chunks.mutex_);
    if (--chunks.taking_ == 0) chunks.idle_.notify_all();
}

void SliceChunks::wait_for_workers() {
    std::unique_lock lock(mutex_);
    // A worker that starts after this sees no chunk left and holds none, so
    // waiting for the ones counted now is enough.
    while (taking_ > 0) {
        if (stop_.stopped.load()) {
            idle_.wait(lock, [&] { return taking_ == 0; });
            return;
        }
        if (idle_.wait_until(lock, stop_.next_ask, [&] { return taking_ == 0; })) return;
        lock.unlock();
        stop_.requested();  // this thread is the caller: it asks the sink
        lock.lock();
    }
}

bool SliceStop::requested() {
    if (stopped.load(std::memory_order_relaxed)) return true;
    // Only the calling thread may ask the sink (it may run Python there).
    if (std::this_thread::get_id() != caller) return false;
    const auto now = std::chrono::steady_clock::now();
    if (now < next_ask) return false;
    next_ask = now + std::chrono::milliseconds(50);
    if (!sink.report(done, total)) stopped.store(true);
    return stopped.load(std::memory_order_relaxed);
}

}  // namespace detail

bool stop_requested() {
    detail::SliceStop* stop = detail::slice_stop_slot();
    return stop != nullptr && stop->requested();
}

}  // namespace vornex
