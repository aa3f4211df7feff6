// An in-process stand-in for the CUDA driver and NVRTC: device memory is host
// memory, a launch runs the kernel text on the host, and every step can be
// made to fail. Lets the GPU decoder's whole sequence run without a GPU.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "gpu/cuda_batch.h"
#include "gpu/cuda_runtime.h"

namespace vornex::testing {

// One installed compiler release as the stand-in plays it.
struct FakeCompiler {
    std::string name = "fake-nvrtc-13";
    int major = 13;
    int minor = 0;
    // Architectures it builds for (10 * major + minor); anything else is
    // refused at compilation as an invalid option.
    std::vector<int> archs = {75, 80, 86, 87, 88, 89, 90, 100, 103, 110, 120, 121};
    // Releases before 11.2 cannot list their architectures.
    bool lists_archs = true;
    // PTX ISA version of its output, e.g. 90 for ".version 9.0".
    int ptx_isa = 90;
};

struct FakeDevice {
    // What initialising, retaining and resetting the primary context and
    // launching return (0: success), and how many devices there are.
    int init_result = 0, retain_result = 0, reset_result = 0, launch_result = 0;
    int device_count = 1;
    // Returned once by the next synchronisation: an error of an earlier
    // asynchronous launch. A sticky code also becomes `sticky_code`.
    int sync_result = 0;
    // While non-zero every call in the context fails with it, until the
    // primary context is reset.
    int sticky_code = 0;
    // Allocation labels are not visible to the driver, so failures are
    // injected by allocation number (1-based, counted from reset()).
    int fail_alloc_number = 0;
    // Device memory limit for allocations (bytes live at once); 0: none.
    size_t memory_limit = 0;
    std::string name = "Fake Device";
    int major = 8;
    int minor = 6;
    // Newest PTX ISA the driver loads (newer: CUDA_ERROR_UNSUPPORTED_PTX_VERSION).
    int driver_ptx_isa = 90;
    std::vector<FakeCompiler> compilers = {FakeCompiler{}};

    int primary_retains = 0;   // live retains of the primary context
    int primary_resets = 0;
    int live_modules = 0;
    int allocs = 0;
    int launches = 0;
    // Calls made while the primary context was not current.
    int calls_outside_context = 0;
    std::map<unsigned long long, std::vector<uint8_t>> memory;
    // Allocation number of each live pointer, and the release calls in
    // order: "free <allocation number>", "unload", "release".
    std::map<unsigned long long, int> alloc_number;
    std::vector<std::string> releases;
    std::string last_ptx;
    std::vector<std::string> compile_options;
    // Compilers opened, in order, by name.
    std::vector<std::string> compilers_opened;
};

// The one fake device; reset() before each test.
FakeDevice& fake();
void reset_fake();
// The handle of the primary context as it stands (it changes on reset).
CUcontext fake_primary_context();
// Sets and reads the calling thread's current context directly.
void fake_set_current_context(CUcontext context);
CUcontext fake_current_context();

// Fails the current test unless the device holds nothing any more (no
// retained context, module or buffer) and no call ran outside the context.
void expect_device_released();

// The fake tables; the driver loader hands out a fresh shared table.
Result<SharedDriver> fake_driver_loader();
// The first of fake().compilers.
Result<NvrtcApi> fake_nvrtc_loader();
// Stand-in driver with the stand-in compilers, or with the system's NVRTC.
GpuLoaders fake_loaders();
GpuLoaders fake_driver_real_nvrtc();

}  // namespace vornex::testing
