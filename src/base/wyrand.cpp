#include "base/wyrand.h"

#include <chrono>
#include <functional>
#include <thread>

namespace vornex {
namespace {

uint64_t fresh_thread_seed() {
    const auto now = std::chrono::steady_clock::now().time_since_epoch().count();
    const auto id = std::hash<std::thread::id>{}(std::this_thread::get_id());
    return mix64(mix64(static_cast<uint64_t>(now)) ^ static_cast<uint64_t>(id));
}

}  // namespace

uint64_t mix64(uint64_t z) {
    z += 0x9e3779b97f4a7c15ull;
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
}

Wyrand& thread_rng() {
    thread_local Wyrand rng(fresh_thread_seed());
    return rng;
}

Wyrand derive_rng() { return Wyrand(thread_rng().next_u64()); }

}  // namespace vornex
