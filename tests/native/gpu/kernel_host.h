// The GPU kernel source compiled as plain C++ and run on the host, one
// "thread" at a time, so its bytes can be compared with the CPU core without
// a GPU.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "code/check_graph.h"

namespace vornex::testing {

// Runs the kernel over a launch grid the way the driver would, reading the
// twelve parameters from `params` (pointers to the argument values, device
// pointers being host addresses here).
void launch_kernel_on_host(unsigned grid, unsigned block, void** params);

// Decodes `batch` rows with the kernel: exact per-shot scratch strides, the
// driver's launch geometry, and guard bytes after every buffer. Fails the
// current test if the kernel writes past any buffer.
std::vector<uint8_t> kernel_decode(const CheckGraph& graph, const uint8_t* syndromes, size_t batch);

}  // namespace vornex::testing
