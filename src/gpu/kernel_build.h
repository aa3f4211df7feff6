// Building the kernel for the device at hand: which installed NVRTC, which
// target architecture, and whether the driver can load the PTX it produces.
//
// A compiler release drops old architectures (13.0 builds nothing below
// compute_75) and knows no architecture newer than itself, and a driver loads
// only PTX of an ISA version it knows. So the compilers are tried newest
// first until one builds PTX that the driver accepts.
#pragma once

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <utility>

#include "base/result.h"
#include "gpu/cuda_runtime.h"

namespace vornex {

// Program name given to NVRTC.
inline constexpr const char* kKernelProgramName = "vornex_cuda_kernels.cu";

// Compiles `source` for compute capability major.minor into PTX text, or the
// compiler's failure (with its log when it has one).
Result<std::string> compile_to_ptx(const NvrtcApi& nvrtc, const char* source, int major, int minor);

// The architecture `nvrtc` should target for a device of major.minor: the
// device's own when the compiler lists it (or lists nothing), else the newest
// listed one below it, whose PTX the driver compiles on for the device;
// nullopt when the compiler lists none at or below the device.
std::optional<std::pair<int, int>> choose_target(const NvrtcApi& nvrtc, int major, int minor);

// PTX the driver has loaded, and what built it.
struct BuiltKernel {
    std::string ptx;
    std::pair<int, int> target;
    std::string compiler;
};

// Hands PTX to the driver; fails when the driver refuses it.
using PtxLoader = std::function<Status(const std::string& ptx)>;

// Tries each compiler in turn (each file once, however many names reach it)
// until one builds PTX that `load` accepts. On failure the text names every
// compiler that opened and why it was passed over, or is the loader's own
// "NVRTC library not found: ..." when none opened.
Result<BuiltKernel> build_kernel_for_device(std::span<const NvrtcLoader> compilers, const char* source, int major,
                                            int minor, const PtxLoader& load);

}  // namespace vornex
