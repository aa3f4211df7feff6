#include "code/worker_pool.h"

#include <cstdlib>
#include <string>
#include <thread>

namespace vornex {
namespace {

int configured_concurrency() {
    if (const char* text = std::getenv("VORNEX_NUM_THREADS")) {
        char* end = nullptr;
        const long value = std::strtol(text, &end, 10);
        if (end != text && *end == '\0' && value > 0 && value <= 4096) return static_cast<int>(value);
    }
    const unsigned hardware = std::thread::hardware_concurrency();
    return hardware == 0 ? 1 : static_cast<int>(hardware);
}

}  // namespace

tbb::task_arena& worker_arena() {
    // Function-local static: thread-safe construction on first use, never torn
    // down before the process ends.
    static tbb::task_arena* arena = new tbb::task_arena(configured_concurrency());
    return *arena;
}

size_t worker_count() { return static_cast<size_t>(worker_arena().max_concurrency()); }

}  // namespace vornex
