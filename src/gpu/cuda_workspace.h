// Device-side objects of the GPU batch decoder and its one GPU attempt:
// owners for the context, the loaded module, device and pinned buffers and
// streams, the kernel with its uploaded edge list, and the mutex-guarded
// workspace that runs a batch in chunks that fit the device.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "base/result.h"
#include "gpu/cuda_runtime.h"
#include "gpu/kernel_layout.h"

namespace vornex {

// The device's primary context, retained for as long as its owner lives.
// Other CUDA users in the process (a framework, another library) share it,
// so the decoder never creates a context of its own.
class DeviceContext {
public:
    DeviceContext() = default;
    DeviceContext(DeviceContext&& other) noexcept;
    DeviceContext& operator=(DeviceContext&& other) noexcept;
    DeviceContext(const DeviceContext&) = delete;
    DeviceContext& operator=(const DeviceContext&) = delete;
    ~DeviceContext() { release(); }

    // Retains `device`'s primary context ("cuDevicePrimaryCtxRetain").
    static Result<DeviceContext> retain_primary(SharedDriver driver, CUdevice device);

    const CudaDriverApi& driver() const { return *driver_; }
    const SharedDriver& shared_driver() const { return driver_; }
    CUcontext get() const { return context_; }
    // After a sticky error the context is unusable for everyone: reset the
    // primary context (which drops all it holds) and retain it afresh.
    Status recreate();

private:
    void release();
    SharedDriver driver_;
    CUdevice device_ = 0;
    CUcontext context_ = nullptr;
};

// Makes a context current for one scope and then puts back whatever context
// the calling thread had current, so callers that use CUDA themselves on
// the same thread are not disturbed.
class ScopedCurrent {
public:
    explicit ScopedCurrent(const DeviceContext& context);
    ~ScopedCurrent();
    ScopedCurrent(const ScopedCurrent&) = delete;
    ScopedCurrent& operator=(const ScopedCurrent&) = delete;
    // "cuCtxGetCurrent" or "cuCtxSetCurrent" failures; nothing to restore then.
    const Status& status() const { return status_; }

private:
    const CudaDriverApi* driver_ = nullptr;
    CUcontext previous_ = nullptr;
    bool restore_ = false;
    Status status_ = ok_status();
};

// A driver object that belongs to a context: handed back by the driver entry
// point `Free`, with that context current, when its owner goes or is
// released. Move-only; the base of the buffers and streams below.
template <class Handle, auto Free>
class ContextOwned {
public:
    ContextOwned() = default;
    ContextOwned(ContextOwned&& other) noexcept
        : context_(other.context_), handle_(std::exchange(other.handle_, Handle{})) {}
    ContextOwned& operator=(ContextOwned&& other) noexcept {
        if (this != &other) {
            release();
            context_ = other.context_;
            handle_ = std::exchange(other.handle_, Handle{});
        }
        return *this;
    }
    ContextOwned(const ContextOwned&) = delete;
    ContextOwned& operator=(const ContextOwned&) = delete;
    ~ContextOwned() { release(); }

    Handle get() const { return handle_; }
    void release() {
        if (handle_ == Handle{}) return;
        const ScopedCurrent current(*context_);
        (context_->driver().*Free)(handle_);
        handle_ = Handle{};
    }

protected:
    // The context the object is made in; set by the factory before it asks
    // the driver, so a half-made object is released in the right context.
    const DeviceContext* context_ = nullptr;
    Handle handle_{};
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

// One device allocation, freed (with its context current for the call) by its
// owner.
class DeviceBuffer : public ContextOwned<CUdeviceptr, &CudaDriverApi::cuMemFree_v2> {
public:
    // max(1, bytes) on the device; "cuMemAlloc(<name>)" on failure.
    static Result<DeviceBuffer> allocate(const DeviceContext& context, size_t bytes, std::string_view name);
    // Allocates and, when bytes > 0, uploads; "cuMemcpyHtoD(<name>)" on failure.
    static Result<DeviceBuffer> upload(const DeviceContext& context, std::span<const uint8_t> bytes,
                                       std::string_view name);
};

// Errors after which the context can do nothing more (every later call in it
// fails too), so it must be reset and everything in it made again.
bool is_sticky_error(CUresult code);

// Page-locked host memory, so copies run asynchronously on a stream.
class PinnedBuffer : public ContextOwned<uint8_t*, &CudaDriverApi::cuMemFreeHost> {
public:
    // max(1, bytes); "cuMemHostAlloc(<name>)" on failure.
    static Result<PinnedBuffer> allocate(const DeviceContext& context, size_t bytes, std::string_view name);
};

// A stream of the context; destroyed with its owner.
class DeviceStream : public ContextOwned<CUstream, &CudaDriverApi::cuStreamDestroy_v2> {
public:
    static Result<DeviceStream> create(const DeviceContext& context);
};

// The compiled kernel and the code it decodes, fixed after construction
// (until a lost context makes it all again).
struct GpuKernel {
    DeviceContext context;
    DeviceModule module;
    // The interleaved entry point for index_bytes.
    CUfunction function = nullptr;
    // 2 or 4: the narrowest index type the graph allows (kernel_layout.h).
    uint32_t index_bytes = 4;
    uint64_t n_qubits = 0;
    uint64_t n_checks = 0;
    uint64_t n_nodes = 0;
    uint64_t n_edges = 0;
    // Edge arrays in index_bytes-wide entries.
    DeviceBuffer edge_a;
    DeviceBuffer edge_b;
    DeviceBuffer edge_q;
};

// Device bytes one shot needs: its syndrome and correction rows and its
// interleaved scratch.
uint64_t device_bytes_per_shot(const GpuKernel& kernel);

// The per-chunk device buffers, pinned staging buffers and streams, in one or
// two slots. A batch that fits the device's free memory runs as one chunk; a
// larger one runs in chunks that alternate between two slots, so one chunk's
// copies overlap the other's kernel. GPU attempts are serialised by its lock.
class CudaWorkspace {
public:
    // One GPU attempt: batch rows of n_checks bytes in, batch rows of
    // n_qubits bytes out, or the text of the first failing step. Running out
    // of device memory only makes the chunks smaller.
    Result<std::vector<uint8_t>> decode(const GpuKernel& kernel, const uint8_t* syndromes, uint64_t batch);

    // Shots one slot holds (0 before the first GPU run).
    uint64_t capacity() const;
    // Slots in use: 1 while every batch fitted at once, else 2.
    uint32_t slots_in_use() const;
    // Frees every buffer, slot by slot in allocation order; capacity becomes 0.
    void release();
    // Marks the lock as poisoned: every later attempt fails at once.
    void poison();
    // True when the last attempt hit an error that leaves the context
    // unusable (an illegal address, a failed launch found at synchronisation).
    bool context_lost() const;

private:
    struct Slot {
        DeviceBuffer syndromes;
        DeviceBuffer corrections;
        DeviceBuffer scratch_idx;
        DeviceBuffer scratch_u8;
        PinnedBuffer host_syndromes;
        PinnedBuffer host_corrections;
        DeviceStream stream;
        // Rows [first, first + count) of the output still in flight here.
        uint64_t pending_first = 0;
        uint64_t pending_count = 0;
    };

    // Shots per chunk and slots for `batch` rows, within free device memory.
    Result<std::pair<uint64_t, uint32_t>> plan(const GpuKernel& kernel, uint64_t batch) const;
    // Makes `slots` slots of `shots` shots, halving on an allocation failure
    // down to one warp (or the whole batch when smaller).
    Status provide(const GpuKernel& kernel, uint64_t batch, uint64_t shots, uint32_t slots);
    Status allocate_slot(const GpuKernel& kernel, Slot& slot, uint64_t shots);
    Status run_locked(const GpuKernel& kernel, const uint8_t* syndromes, uint64_t batch, uint8_t* out);
    Status launch_chunk(const GpuKernel& kernel, Slot& slot, const uint8_t* syndromes, uint64_t first,
                        uint64_t count);
    // Waits for the slot's chunk and copies its corrections out.
    Status finish_chunk(const GpuKernel& kernel, Slot& slot, uint8_t* out);
    void release_locked();
    // Records `code` under `label`; a sticky code marks the context lost.
    Status step(const CudaDriverApi& driver, std::string_view label, CUresult code);

    mutable std::mutex mutex_;
    bool poisoned_ = false;
    bool context_lost_ = false;
    Slot slots_[2];
    uint32_t n_slots_ = 0;
    uint64_t capacity_ = 0;
};

}  // namespace vornex
