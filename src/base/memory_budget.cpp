#include "base/memory_budget.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

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

double memory_budget() {
    const char* text = std::getenv(kMemoryBudgetVariable);
    if (text == nullptr) return kDefaultMemoryBudget;
    char* end = nullptr;
    const unsigned long long count = std::strtoull(text, &end, 10);
    if (end == text || *text == '-' || *text == '+' || *text == ' ') return kDefaultMemoryBudget;
    double bytes = static_cast<double>(count);
    constexpr std::string_view kSuffixes = "KMGT";
    if (*end != '\0') {
        const size_t power = kSuffixes.find(*end);
        if (power == std::string_view::npos || end[1] != '\0') return kDefaultMemoryBudget;
        bytes = std::ldexp(bytes, 10 * static_cast<int>(power + 1));
    }
    return bytes > 0.0 ? bytes : kDefaultMemoryBudget;
}

std::string byte_text(double bytes) {
    constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB", "PiB", "EiB"};
    if (bytes < 1024.0) return std::to_string(static_cast<long long>(bytes)) + " bytes";
    int unit = -1;
    while (bytes >= 1024.0 && unit < 5) {
        bytes /= 1024.0;
        ++unit;
    }
    char text[48];
    std::snprintf(text, sizeof text, bytes < 10.0 ? "%.1f %s" : "%.0f %s", bytes, kUnits[unit]);
    return text;
}

Status check_memory_budget(std::string_view subject, double bytes) {
    const double budget = memory_budget();
    if (bytes <= budget) return ok_status();
    return memory_error(std::string(subject) + " needs about " + byte_text(bytes) + ", above the memory budget of " +
                        byte_text(budget) + " (set " + kMemoryBudgetVariable +
                        " to a number of bytes, optionally with a K, M, G or T suffix, to raise it)");
}

Status check_count_budget(std::string_view owner, size_t count, std::string_view counted, std::string_view decoder,
                          double bytes_per_item, double bytes_per_pair) {
    const double n = static_cast<double>(count);
    const double bytes = n * bytes_per_item + n * n * bytes_per_pair;
    if (bytes <= memory_budget()) return ok_status();
    return check_memory_budget(std::string(owner) + " declares " + std::to_string(count) + " " + std::string(counted) +
                                   "; " + std::string(decoder) + " for it",
                               bytes);
}

}  // namespace vornex
