// The GPU kernel source compiled as plain C++ and run on the host, so its
// bytes can be compared with the CPU core without a GPU. A launch runs the
// kernel's threads concurrently on host threads (neighbouring GPU threads on
// different host threads); the isolation check instead runs them one at a
// time and fails when a thread changes scratch that belongs to another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "code/check_graph.h"

namespace vornex::testing {

// The kernel's entry points: contiguous per-thread scratch with 32-bit
// indices, and scratch interleaved across warp lanes with 16- or 32-bit ones.
enum class KernelLayout { Contiguous, LanesU16, LanesU32 };

// Runs one entry point over a launch grid the way the driver would, reading
// the twelve parameters from `params` (pointers to the argument values,
// device pointers being host addresses here).
void launch_kernel_on_host(KernelLayout layout, unsigned grid, unsigned block, void** params);

struct KernelRun {
    KernelLayout layout = KernelLayout::LanesU16;
    // One GPU thread at a time, each checked to change only its own scratch.
    bool check_isolation = false;
};

// Decodes `batch` rows with the kernel: exact scratch sizes for the layout,
// the driver's launch geometry, and guard bytes after every buffer. Fails the
// current test if the kernel writes past any buffer, or (when checked) into
// another thread's scratch.
std::vector<uint8_t> kernel_decode(const CheckGraph& graph, const uint8_t* syndromes, size_t batch,
                                   KernelRun run = {});

}  // namespace vornex::testing
