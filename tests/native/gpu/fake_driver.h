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

struct FakeDevice {
    int init_result = 0;
    int device_count = 1;
    int ctx_create_result = 0;
    int launch_result = 0;
    // Allocation labels are not visible to the driver, so failures are
    // injected by allocation number (1-based, counted from reset()).
    int fail_alloc_number = 0;
    std::string name = "Fake Device";
    int major = 8;
    int minor = 6;

    int live_contexts = 0;
    int live_modules = 0;
    int allocs = 0;
    int launches = 0;
    std::map<unsigned long long, std::vector<uint8_t>> memory;
    // Allocation number of each live pointer, and the release calls in
    // order: "free <allocation number>", "unload", "destroy".
    std::map<unsigned long long, int> alloc_number;
    std::vector<std::string> releases;
    std::string last_ptx;
    std::vector<std::string> compile_options;
};

// The one fake device; reset() before each test.
FakeDevice& fake();
void reset_fake();

// The fake tables; the driver loader hands out a fresh shared table.
Result<SharedDriver> fake_driver_loader();
Result<NvrtcApi> fake_nvrtc_loader();
// The system's NVRTC with the fake driver, when NVRTC is installed.
GpuLoaders fake_loaders();
GpuLoaders fake_driver_real_nvrtc();

}  // namespace vornex::testing
