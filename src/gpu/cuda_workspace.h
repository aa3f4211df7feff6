// Device-side objects of the GPU batch decoder and its one GPU attempt:
// owners for the context, the loaded module and device buffers, the kernel
// with its uploaded edge list, and the mutex-guarded per-shot workspace that
// grows to the largest batch seen.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string_view>
#include <vector>

#include "code/result.h"
#include "gpu/cuda_runtime.h"

namespace vornex {

// A driver context; destroyed with its owner.
class DeviceContext {
public:
    DeviceContext() = default;
    DeviceContext(SharedDriver driver, CUcontext context) : driver_(std::move(driver)), context_(context) {}
    DeviceContext(DeviceContext&& other) noexcept;
    DeviceContext& operator=(DeviceContext&& other) noexcept;
    DeviceContext(const DeviceContext&) = delete;
    DeviceContext& operator=(const DeviceContext&) = delete;
    ~DeviceContext();

    const CudaDriverApi& driver() const { return *driver_; }
    CUcontext get() const { return context_; }
    // Makes this context current on the calling thread ("cuCtxSetCurrent").
    Status make_current() const;

private:
    SharedDriver driver_;
    CUcontext context_ = nullptr;
};

// A loaded module; unloaded with its owner (the context must still exist).
class DeviceModule {
public:
    DeviceModule() = default;
    DeviceModule(const CudaDriverApi* driver, CUmodule module) : driver_(driver), module_(module) {}
    DeviceModule(DeviceModule&& other) noexcept;
    DeviceModule& operator=(DeviceModule&& other) noexcept;
    DeviceModule(const DeviceModule&) = delete;
    DeviceModule& operator=(const DeviceModule&) = delete;
    ~DeviceModule();

    CUmodule get() const { return module_; }

private:
    const CudaDriverApi* driver_ = nullptr;
    CUmodule module_ = nullptr;
};

// One device allocation, freed (with its context made current) by its owner.
class DeviceBuffer {
public:
    DeviceBuffer() = default;
    DeviceBuffer(DeviceBuffer&& other) noexcept;
    DeviceBuffer& operator=(DeviceBuffer&& other) noexcept;
    DeviceBuffer(const DeviceBuffer&) = delete;
    DeviceBuffer& operator=(const DeviceBuffer&) = delete;
    ~DeviceBuffer() { release(); }

    // max(1, bytes) on the device; "cuMemAlloc(<name>)" on failure.
    static Result<DeviceBuffer> allocate(const DeviceContext& context, size_t bytes, std::string_view name);
    // Allocates and, when bytes > 0, uploads; "cuMemcpyHtoD(<name>)" on failure.
    static Result<DeviceBuffer> upload(const DeviceContext& context, std::span<const uint8_t> bytes,
                                       std::string_view name);

    CUdeviceptr get() const { return ptr_; }
    void release();

private:
    const DeviceContext* context_ = nullptr;
    CUdeviceptr ptr_ = 0;
};

// Per-thread scratch strides of the kernel: S32 = 6N + 1 + 4E words,
// S8 = 5N + E bytes. Inputs are at most 2^32 - 1, so neither overflows.
inline uint64_t scratch_words_per_shot(uint64_t n_nodes, uint64_t n_edges) { return 6 * n_nodes + 1 + 4 * n_edges; }
inline uint64_t scratch_bytes_per_shot(uint64_t n_nodes, uint64_t n_edges) { return 5 * n_nodes + n_edges; }

// The compiled kernel and the code it decodes, fixed after construction.
struct GpuKernel {
    DeviceContext context;
    DeviceModule module;
    CUfunction function = nullptr;
    uint64_t n_qubits = 0;
    uint64_t n_checks = 0;
    uint64_t n_nodes = 0;
    uint64_t n_edges = 0;
    DeviceBuffer edge_a;
    DeviceBuffer edge_b;
    DeviceBuffer edge_q;
};

// The four per-shot device buffers and their capacity in shots. GPU attempts
// are serialised by its lock; it only grows, and only when a whole new set
// could be allocated.
class CudaWorkspace {
public:
    // One GPU attempt: batch rows of n_checks bytes in, batch rows of
    // n_qubits bytes out, or the text of the first failing step.
    Result<std::vector<uint8_t>> decode(const GpuKernel& kernel, const uint8_t* syndromes, uint64_t batch);

    uint64_t capacity() const;
    // Frees the four buffers in allocation order; capacity becomes 0.
    void release();
    // Marks the lock as poisoned: every later attempt fails at once.
    void poison();

private:
    struct Buffers {
        DeviceBuffer syndromes;
        DeviceBuffer corrections;
        DeviceBuffer scratch_u32;
        DeviceBuffer scratch_u8;
    };

    Status grow(const GpuKernel& kernel, uint64_t batch);
    Status run_locked(const GpuKernel& kernel, const uint8_t* syndromes, uint64_t batch, uint8_t* out);

    mutable std::mutex mutex_;
    bool poisoned_ = false;
    Buffers buffers_;
    uint64_t capacity_ = 0;
};

}  // namespace vornex
