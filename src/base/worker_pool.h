// The process-wide work-stealing worker pool.
//
// One oneTBB arena with one worker per CPU this process may run on (its
// affinity mask, so a process pinned to one CPU runs one), created on first use
// and kept for the life of the process. Index ranges are split by recursive
// halving; the calling thread joins in and returns when every index is done.
// Bodies must touch only native state: workers never see Python objects.
#pragma once

#include <cstddef>

#include <tbb/blocked_range.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

namespace vornex {

// The shared arena. VORNEX_NUM_THREADS, read once on first use, overrides
// the worker count (useful to check that results do not depend on it).
tbb::task_arena& worker_arena();

// Threads for the pool: `requested` (the VORNEX_NUM_THREADS text) when it is
// a whole number in 1 .. 4096, otherwise the CPUs available (at least one).
size_t choose_worker_count(const char* requested, size_t available_cpus);

// Number of threads the pool runs on.
size_t worker_count();

// Calls body(begin, end) on disjoint pieces covering [0, n).
template <class Body>
void parallel_for_ranges(size_t n, Body&& body) {
    if (n == 0) return;
    worker_arena().execute([&] {
        tbb::parallel_for(tbb::blocked_range<size_t>(0, n, 1),
                          [&](const tbb::blocked_range<size_t>& r) { body(r.begin(), r.end()); });
    });
}

// Calls body(i) for every i in [0, n), in parallel.
template <class Body>
void parallel_for(size_t n, Body&& body) {
    parallel_for_ranges(n, [&](size_t begin, size_t end) {
        for (size_t i = begin; i < end; ++i) body(i);
    });
}

}  // namespace vornex
