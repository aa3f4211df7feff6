// CUDABatchDecoder: the Union-Find kernel run with one GPU thread per shot,
// compiled for the present device at construction, with the CPU decoder as
// fallback for small batches and failed attempts. Repeated failures put the
// decoder in a degraded mode that retries the GPU only every tenth call.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "code/check_graph.h"
#include "code/result.h"
#include "gpu/cuda_runtime.h"
#include "gpu/cuda_workspace.h"
#include "uf/decoder.h"

namespace vornex {

// The kernel source handed to NVRTC.
const char* cuda_kernel_source();
// Program name given to NVRTC and the kernel's entry point.
inline constexpr const char* kKernelProgramName = "vornex_cuda_kernels.cu";
inline constexpr const char* kKernelEntryPoint = "uf_decode_batch_cuda";

// How construction reaches the driver and the compiler; the defaults open the
// system libraries.
struct GpuLoaders {
    Result<SharedDriver> (*driver)() = load_cuda_driver;
    Result<NvrtcApi> (*nvrtc)() = load_nvrtc;
};

// Compiles `source` for compute capability major.minor into PTX text, or the
// compiler's failure (with its log when it has one).
Result<std::string> compile_to_ptx(const NvrtcApi& nvrtc, const char* source, int major, int minor);

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

        // Edge arrays, then the workspace, in allocation order; the members'
        // own destructors then unload the module and destroy the context.
        ~State() {
            kernel.edge_a.release();
            kernel.edge_b.release();
            kernel.edge_q.release();
            workspace.release();
        }
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
    bool is_degraded() const { return state_->is_degraded.load(); }
    // Shots the device workspace currently holds (0 before the first GPU run).
    uint64_t workspace_capacity() const { return state_->workspace.capacity(); }

    // Shape already checked: n_shots rows of n_checks bytes. Size limits are
    // RuntimeErrors; GPU failures fall back to the CPU and are only counted.
    Result<std::vector<uint8_t>> batch_decode(std::span<const uint8_t> syndromes, size_t n_shots) const;

    // Clears the failure counters and degraded mode; recoveries are kept.
    void reset() const;

    // One GPU attempt on n_shots rows, counters untouched: the corrections
    // or the text of the first failing step.
    Result<std::vector<uint8_t>> gpu_attempt(std::span<const uint8_t> syndromes, uint64_t n_shots) const;

private:
    CudaBatchDecoder(UnionFindDecoder cpu, std::unique_ptr<State> state, std::string device_name,
                     std::pair<int, int> capability);

    UnionFindDecoder cpu_;
    std::unique_ptr<State> state_;
    std::string device_name_;
    std::pair<int, int> capability_;
};

}  // namespace vornex
