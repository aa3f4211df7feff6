#include "base/memory_budget.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace vornex {
namespace {

double physical_memory() {
    static const double bytes = [] {
        const long pages = ::sysconf(_SC_PHYS_PAGES);
        const long page_size = ::sysconf(_SC_PAGESIZE);
        // Without an answer from the system, only the address range limits.
        return (pages > 0 && page_size > 0) ? static_cast<double>(pages) * static_cast<double>(page_size) : 0x1p47;
    }();
    return bytes;
}

// Address space already in use, from /proc; 0 when it cannot be read.
double mapped_bytes() {
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (statm == nullptr) return 0.0;
    unsigned long pages = 0;
    const bool read = std::fscanf(statm, "%lu", &pages) == 1;
    std::fclose(statm);
    return read ? static_cast<double>(pages) * static_cast<double>(::sysconf(_SC_PAGESIZE)) : 0.0;
}

}  // namespace

bool fits_in_memory(double bytes) {
    double limit = physical_memory();
    // A process started under a limit (ulimit -v, a container's cap) would
    // otherwise start the work and fail part-way.
    rlimit address_space{};
    if (::getrlimit(RLIMIT_AS, &address_space) == 0 && address_space.rlim_cur != RLIM_INFINITY)
        limit = std::min(limit, static_cast<double>(address_space.rlim_cur) - mapped_bytes());
    return bytes <= limit;
}

}  // namespace vornex
