// CUDABatchDecoder: the Union-Find kernel run with one GPU thread per shot,
// compiled for the present device at construction, with the CPU decoder as
// fallback for small batches and failed attempts. Repeated failures put the
// decoder in a degraded mode that retries the GPU only every tenth call; a
// device that no installed compiler can build for leaves it on the CPU for
// good, with the reason kept.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "base/result.h"
#include "code/check_graph.h"
#include "gpu/cuda_runtime.h"
#include "gpu/cuda_workspace.h"
#include "gpu/kernel_build.h"
#include "uf/decoder.h"

namespace vornex {

// The kernel source handed to NVRTC.
const char* cuda_kernel_source();
// The kernel's entry point with contiguous per-thread scratch; the decoder
// launches the interleaved one that kernel_layout.h names.
inline constexpr const char* kKernelEntryPoint = "uf_decode_batch_cuda";

// How construction reaches the driver and the compilers; the defaults open
// the system libraries, compilers newest first.
struct GpuLoaders {
    Result<SharedDriver> (*driver)() = load_cuda_driver;
    std::vector<NvrtcLoader> compilers = installed_nvrtc_loaders();
};

// Batches below this size never pay the GPU round trip.
inline constexpr size_t kMinGpuBatch = 8;
// Consecutive failures that switch to degraded mode.
inline constexpr uint64_t kDegradeAfter = 3;
// While degraded, every this many calls retries the GPU.
inline constexpr uint64_t kRetryEvery = 10;

class CudaBatchDecoder {
    // Everything tied to the device, on the heap so that the buffers' view
    // of the context stays put when the decoder moves.
    struct State {
        GpuKernel kernel;
        // Declared after the kernel: its buffers go before the context does.
        CudaWorkspace workspace;
        std::atomic<uint64_t> consecutive_failures{0};
        std::atomic<uint64_t> total_failures{0};
        std::atomic<uint64_t> gpu_recoveries{0};
        std::atomic<uint64_t> degraded_calls{0};
        std::atomic<bool> is_degraded{false};
        std::atomic<uint64_t> context_recreations{0};
        // Kept to make the module again after the context is reset.
        std::string ptx;
        // Set when a sticky error left the context unusable; the next GPU
        // attempt resets it first.
        std::atomic<bool> context_lost{false};
        // Serialises the check for a lost context and its recreation.
        std::mutex rebuild_mutex;
        // Text of the latest GPU failure, for degraded_reason.
        mutable std::mutex failure_mutex;
        std::string last_failure;

        // Edge arrays, then the workspace, in allocation order, then the
        // module, all with the context current; the context's own destructor
        // then releases it.
        ~State() { release_device_objects(); }
        void release_device_objects();
    };

public:
    static Result<CudaBatchDecoder> create(CheckList check_to_qubits, std::optional<size_t> n_qubits);
    static Result<CudaBatchDecoder> create_with(CheckList check_to_qubits, std::optional<size_t> n_qubits,
                                                const GpuLoaders& loaders);

    CudaBatchDecoder(CudaBatchDecoder&&) noexcept = default;

    size_t n_qubits() const { return cpu_.n_qubits(); }
    size_t n_checks() const { return cpu_.n_checks(); }
    std::string device_name() const { return device_name_; }
    std::pair<int, int> compute_capability() const { return capability_; }
    uint64_t consecutive_failures() const { return state_->consecutive_failures.load(); }
    uint64_t total_failures() const { return state_->total_failures.load(); }
    uint64_t gpu_recoveries() const { return state_->gpu_recoveries.load(); }
    bool is_degraded() const { return !cpu_only_reason_.empty() || state_->is_degraded.load(); }
    // Why the decoder runs on the CPU: the compilers' reasons when no kernel
    // could be built for the device, else the latest GPU failure while
    // degraded; nullopt while the GPU is in use.
    std::optional<std::string> degraded_reason() const;
    // Times the context was reset and everything in it made again after a
    // sticky error.
    uint64_t context_recreations() const { return state_->context_recreations.load(); }
    // Whether a kernel was built (false: every batch runs on the CPU).
    bool has_kernel() const { return cpu_only_reason_.empty(); }
    // Shots the device workspace currently holds (0 before the first GPU run).
    uint64_t workspace_capacity() const { return state_->workspace.capacity(); }

    // Shape already checked: n_shots rows of n_checks bytes. Size limits are
    // RuntimeErrors; GPU failures fall back to the CPU and are only counted.
    Result<std::vector<uint8_t>> batch_decode(std::span<const uint8_t> syndromes, size_t n_shots) const;

    // Clears the failure counters and degraded mode; recoveries are kept. A
    // decoder without a kernel stays degraded.
    void reset() const;

    // One GPU attempt on n_shots rows, counters untouched: the corrections
    // or the text of the first failing step.
    Result<std::vector<uint8_t>> gpu_attempt(std::span<const uint8_t> syndromes, uint64_t n_shots) const;

private:
    CudaBatchDecoder(UnionFindDecoder cpu, std::unique_ptr<State> state, std::string device_name,
                     std::pair<int, int> capability, std::string cpu_only_reason);

    // Resets a lost context and makes the module and edge arrays again.
    Status recreate_context() const;
    // Counts one failed GPU attempt and remembers its text.
    void record_failure(const Error& error) const;

    UnionFindDecoder cpu_;
    std::unique_ptr<State> state_;
    std::string device_name_;
    std::pair<int, int> capability_;
    // Non-empty when no kernel was built: the reason, fixed at construction.
    std::string cpu_only_reason_;
};

}  // namespace vornex
