#include "gpu/cuda_workspace.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace vornex {
namespace {

constexpr uint32_t kBlockSize = 128;

Status overflow(const char* text) { return runtime_error(text); }

bool mul(uint64_t a, uint64_t b, uint64_t& out) { return !__builtin_mul_overflow(a, b, &out); }

std::string labelled(const char* call, std::string_view name) {
    return std::string(call) + "(" + std::string(name) + ")";
}

}  // namespace

bool is_sticky_error(CUresult code) {
    switch (code) {
        case 201:  // CUDA_ERROR_INVALID_CONTEXT
        case 700:  // CUDA_ERROR_ILLEGAL_ADDRESS
        case 702:  // CUDA_ERROR_LAUNCH_TIMEOUT
        case 709:  // CUDA_ERROR_CONTEXT_IS_DESTROYED
        case 714:  // CUDA_ERROR_HARDWARE_STACK_ERROR
        case 715:  // CUDA_ERROR_ILLEGAL_INSTRUCTION
        case 716:  // CUDA_ERROR_MISALIGNED_ADDRESS
        case 717:  // CUDA_ERROR_INVALID_ADDRESS_SPACE
        case 718:  // CUDA_ERROR_INVALID_PC
        case 719:  // CUDA_ERROR_LAUNCH_FAILED
            return true;
        default:
            return false;
    }
}

DeviceContext::DeviceContext(DeviceContext&& other) noexcept
    : driver_(std::move(other.driver_)), device_(other.device_), context_(other.context_) {
    other.context_ = nullptr;
}

DeviceContext& DeviceContext::operator=(DeviceContext&& other) noexcept {
    if (this != &other) {
        release();
        driver_ = std::move(other.driver_);
        device_ = other.device_;
        context_ = other.context_;
        other.context_ = nullptr;
    }
    return *this;
}

void DeviceContext::release() {
    if (context_ != nullptr) driver_->cuDevicePrimaryCtxRelease_v2(device_);
    context_ = nullptr;
}

Result<DeviceContext> DeviceContext::retain_primary(SharedDriver driver, CUdevice device) {
    CUcontext context = nullptr;
    if (Status s = check_cu(*driver, "cuDevicePrimaryCtxRetain", driver->cuDevicePrimaryCtxRetain(&context, device));
        !s)
        return s.error();
    DeviceContext owner;
    owner.driver_ = std::move(driver);
    owner.device_ = device;
    owner.context_ = context;
    return owner;
}

Status DeviceContext::recreate() {
    const CudaDriverApi& d = *driver_;
    release();
    if (Status s = check_cu(d, "cuDevicePrimaryCtxReset", d.cuDevicePrimaryCtxReset_v2(device_)); !s) return s;
    CUcontext context = nullptr;
    if (Status s = check_cu(d, "cuDevicePrimaryCtxRetain", d.cuDevicePrimaryCtxRetain(&context, device_)); !s)
        return s;
    context_ = context;
    return ok_status();
}

ScopedCurrent::ScopedCurrent(const DeviceContext& context) : driver_(&context.driver()) {
    status_ = check_cu(*driver_, "cuCtxGetCurrent", driver_->cuCtxGetCurrent(&previous_));
    if (!status_) return;
    status_ = check_cu(*driver_, "cuCtxSetCurrent", driver_->cuCtxSetCurrent(context.get()));
    restore_ = status_.ok();
}

ScopedCurrent::~ScopedCurrent() {
    if (restore_) driver_->cuCtxSetCurrent(previous_);
}

DeviceModule::DeviceModule(DeviceModule&& other) noexcept : driver_(other.driver_), module_(other.module_) {
    other.module_ = nullptr;
}

DeviceModule& DeviceModule::operator=(DeviceModule&& other) noexcept {
    if (this != &other) {
        if (module_ != nullptr) driver_->cuModuleUnload(module_);
        driver_ = other.driver_;
        module_ = other.module_;
        other.module_ = nullptr;
    }
    return *this;
}

DeviceModule::~DeviceModule() {
    if (module_ != nullptr) driver_->cuModuleUnload(module_);
}

Result<DeviceBuffer> DeviceBuffer::allocate(const DeviceContext& context, size_t bytes, std::string_view name) {
    DeviceBuffer buffer;
    buffer.context_ = &context;
    const CudaDriverApi& d = context.driver();
    CUdeviceptr ptr = 0;
    const Status status = check_cu(d, labelled("cuMemAlloc", name), d.cuMemAlloc_v2(&ptr, bytes > 0 ? bytes : 1));
    if (!status) return status.error();
    buffer.handle_ = ptr;
    return buffer;
}

Result<DeviceBuffer> DeviceBuffer::upload(const DeviceContext& context, std::span<const uint8_t> bytes,
                                          std::string_view name) {
    auto buffer = allocate(context, bytes.size(), name);
    if (!buffer || bytes.empty()) return buffer;
    const CudaDriverApi& d = context.driver();
    const Status status = check_cu(d, labelled("cuMemcpyHtoD", name),
                                   d.cuMemcpyHtoD_v2(buffer.value().get(), bytes.data(), bytes.size()));
    if (!status) return status.error();
    return buffer;
}

Result<PinnedBuffer> PinnedBuffer::allocate(const DeviceContext& context, size_t bytes, std::string_view name) {
    PinnedBuffer buffer;
    buffer.context_ = &context;
    void* data = nullptr;
    const CudaDriverApi& d = context.driver();
    if (Status s = check_cu(d, labelled("cuMemHostAlloc", name), d.cuMemHostAlloc(&data, bytes > 0 ? bytes : 1, 0));
        !s)
        return s.error();
    buffer.handle_ = static_cast<uint8_t*>(data);
    return buffer;
}

Result<DeviceStream> DeviceStream::create(const DeviceContext& context) {
    DeviceStream stream;
    stream.context_ = &context;
    const CudaDriverApi& d = context.driver();
    // Non-blocking: no implicit waits on work others queue on the default stream.
    constexpr unsigned kNonBlocking = 1;
    if (Status s = check_cu(d, "cuStreamCreate", d.cuStreamCreate(&stream.handle_, kNonBlocking)); !s)
        return s.error();
    return stream;
}

uint64_t device_bytes_per_shot(const GpuKernel& k) {
    return k.n_checks + k.n_qubits + scratch_words_per_shot(k.n_nodes, k.n_edges) * k.index_bytes +
           scratch_bytes_per_shot(k.n_nodes, k.n_edges);
}

uint64_t CudaWorkspace::capacity() const {
    std::lock_guard lock(mutex_);
    return capacity_;
}

uint32_t CudaWorkspace::slots_in_use() const {
    std::lock_guard lock(mutex_);
    return n_slots_;
}

void CudaWorkspace::release() {
    std::lock_guard lock(mutex_);
    release_locked();
}

void CudaWorkspace::release_locked() {
    for (Slot& slot : slots_) {
        slot.syndromes.release();
        slot.corrections.release();
        slot.scratch_idx.release();
        slot.scratch_u8.release();
        slot.host_syndromes.release();
        slot.host_corrections.release();
        slot.stream.release();
        slot.pending_count = 0;
    }
    n_slots_ = 0;
    capacity_ = 0;
}

bool CudaWorkspace::context_lost() const {
    std::lock_guard lock(mutex_);
    return context_lost_;
}

Status CudaWorkspace::step(const CudaDriverApi& driver, std::string_view label, CUresult code) {
    if (is_sticky_error(code)) context_lost_ = true;
    return check_cu(driver, label, code);
}

void CudaWorkspace::poison() {
    std::lock_guard lock(mutex_);
    poisoned_ = true;
}

Result<std::pair<uint64_t, uint32_t>> CudaWorkspace::plan(const GpuKernel& k, uint64_t batch) const {
    size_t free_bytes = 0, total_bytes = 0;
    const CudaDriverApi& d = k.context.driver();
    if (Status s = check_cu(d, "cuMemGetInfo", d.cuMemGetInfo_v2(&free_bytes, &total_bytes)); !s) return s.error();
    // What this workspace holds now comes free when it is remade.
    const uint64_t held = n_slots_ * capacity_ * device_bytes_per_shot(k);
    // A tenth stays free for the driver and for other users of the device.
    const uint64_t budget = (free_bytes + held) / 10 * 9;
    const uint64_t fits = budget / device_bytes_per_shot(k) / kWarpLanes * kWarpLanes;
    if (batch <= fits || batch <= kWarpLanes) return std::pair{batch, 1u};
    return std::pair{std::max<uint64_t>(fits / 2 / kWarpLanes * kWarpLanes, kWarpLanes), 2u};
}

Status CudaWorkspace::allocate_slot(const GpuKernel& k, Slot& slot, uint64_t shots) {
    const uint64_t padded = warp_padded(shots);
    uint64_t syn_bytes = 0, corr_bytes = 0, words = 0, idx_bytes = 0, u8_bytes = 0;
    if (!mul(shots, k.n_checks, syn_bytes)) return overflow("CUDA syndrome workspace size overflow");
    if (!mul(shots, k.n_qubits, corr_bytes)) return overflow("CUDA correction workspace size overflow");
    if (!mul(padded, scratch_words_per_shot(k.n_nodes, k.n_edges), words) || !mul(words, k.index_bytes, idx_bytes))
        return overflow("CUDA u32 scratch size overflow");
    if (!mul(padded, scratch_bytes_per_shot(k.n_nodes, k.n_edges), u8_bytes))
        return overflow("CUDA u8 scratch size overflow");
    const std::pair<DeviceBuffer*, std::pair<uint64_t, const char*>> plan[] = {
        {&slot.syndromes, {syn_bytes, "syndromes"}},
        {&slot.corrections, {corr_bytes, "corrections"}},
        {&slot.scratch_idx, {idx_bytes, "scratch_u32"}},
        {&slot.scratch_u8, {u8_bytes, "scratch_u8"}},
    };
    for (const auto& [buffer, sized] : plan) {
        auto made = DeviceBuffer::allocate(k.context, sized.first, sized.second);
        if (!made) return made.error();
        *buffer = std::move(made).value();
    }
    auto host_in = PinnedBuffer::allocate(k.context, syn_bytes, "syndromes");
    if (!host_in) return host_in.error();
    slot.host_syndromes = std::move(host_in).value();
    auto host_out = PinnedBuffer::allocate(k.context, corr_bytes, "corrections");
    if (!host_out) return host_out.error();
    slot.host_corrections = std::move(host_out).value();
    auto stream = DeviceStream::create(k.context);
    if (!stream) return stream.error();
    slot.stream = std::move(stream).value();
    return ok_status();
}

Status CudaWorkspace::provide(const GpuKernel& k, uint64_t batch, uint64_t shots, uint32_t slots) {
    if (capacity_ >= shots && n_slots_ >= slots) return ok_status();
    // The old buffers go first: holding old and new at once would need both
    // to fit.
    release_locked();
    const uint64_t floor = std::min(batch, kWarpLanes);
    while (true) {
        Status made = ok_status();
        for (uint32_t i = 0; i < slots && made; ++i) made = allocate_slot(k, slots_[i], shots);
        if (made) {
            n_slots_ = slots;
            capacity_ = shots;
            return ok_status();
        }
        release_locked();
        if (shots <= floor || made.error().message.find("CUDA_ERROR_OUT_OF_MEMORY") == std::string::npos) return made;
        shots = std::max(floor, shots / 2 / kWarpLanes * kWarpLanes);
        if (shots < batch) slots = 2;
    }
}

Status CudaWorkspace::launch_chunk(const GpuKernel& k, Slot& slot, const uint8_t* syndromes, uint64_t first,
                                   uint64_t count) {
    const CudaDriverApi& d = k.context.driver();
    const CUstream stream = slot.stream.get();
    std::memcpy(slot.host_syndromes.get(), syndromes + first * k.n_checks, count * k.n_checks);
    Status status = step(d, "cuMemcpyHtoD(syndromes)",
                         d.cuMemcpyHtoDAsync_v2(slot.syndromes.get(), slot.host_syndromes.get(),
                                                count * k.n_checks, stream));
    if (!status) return status;
    CUdeviceptr syn = slot.syndromes.get(), ea = k.edge_a.get(), eb = k.edge_b.get(), eq = k.edge_q.get();
    CUdeviceptr corr = slot.corrections.get(), sidx = slot.scratch_idx.get(), s8 = slot.scratch_u8.get();
    auto n_qubits = static_cast<uint32_t>(k.n_qubits), n_checks = static_cast<uint32_t>(k.n_checks);
    auto n_nodes = static_cast<uint32_t>(k.n_nodes), n_edges = static_cast<uint32_t>(k.n_edges);
    auto batch_size = static_cast<uint32_t>(count);
    void* params[] = {&syn, &ea, &eb, &eq, &corr, &sidx, &s8, &n_qubits, &n_checks, &n_nodes, &n_edges, &batch_size};
    const auto blocks = static_cast<unsigned>((count + kBlockSize - 1) / kBlockSize);
    status = step(d, "cuLaunchKernel",
                  d.cuLaunchKernel(k.function, blocks, 1, 1, kBlockSize, 1, 1, 0, stream, params, nullptr));
    if (!status) return status;
    status = step(d, "cuMemcpyDtoH(corrections)",
                  d.cuMemcpyDtoHAsync_v2(slot.host_corrections.get(), slot.corrections.get(), count * k.n_qubits,
                                         stream));
    if (!status) return status;
    slot.pending_first = first;
    slot.pending_count = count;
    return ok_status();
}

Status CudaWorkspace::finish_chunk(const GpuKernel& k, Slot& slot, uint8_t* out) {
    if (slot.pending_count == 0) return ok_status();
    const CudaDriverApi& d = k.context.driver();
    const uint64_t count = slot.pending_count;
    slot.pending_count = 0;
    if (Status s = step(d, "cuStreamSynchronize", d.cuStreamSynchronize(slot.stream.get())); !s) return s;
    std::memcpy(out + slot.pending_first * k.n_qubits, slot.host_corrections.get(), count * k.n_qubits);
    return ok_status();
}

Status CudaWorkspace::run_locked(const GpuKernel& k, const uint8_t* syndromes, uint64_t batch, uint8_t* out) {
    const auto planned = plan(k, batch);
    if (!planned) return planned.error();
    if (Status s = provide(k, batch, planned.value().first, planned.value().second); !s) return s;
    const uint64_t chunk = std::min(capacity_, batch);
    Status status = ok_status();
    uint32_t next = 0;
    for (uint64_t first = 0; first < batch && status; first += chunk) {
        Slot& slot = slots_[next];
        next = (next + 1) % n_slots_;
        status = finish_chunk(k, slot, out);
        if (status) status = launch_chunk(k, slot, syndromes, first, std::min(chunk, batch - first));
    }
    // Whatever was queued is waited for, also after a failure, so that no
    // copy is still writing into the staging buffers when this returns.
    for (uint32_t i = 0; i < n_slots_; ++i) {
        const Status finished = finish_chunk(k, slots_[i], out);
        if (status) status = finished;
    }
    return status;
}

Result<std::vector<uint8_t>> CudaWorkspace::decode(const GpuKernel& k, const uint8_t* syndromes, uint64_t batch) {
    const ScopedCurrent current(k.context);
    if (!current.status()) return current.status().error();
    uint64_t out_bytes = 0;
    if (!mul(batch, k.n_qubits, out_bytes) || out_bytes > SIZE_MAX)
        return runtime_error("CUDA correction buffer size overflow");
    std::vector<uint8_t> out(out_bytes);

    std::unique_lock lock(mutex_);
    if (poisoned_) return runtime_error("CUDA workspace lock poisoned");
    context_lost_ = false;
    try {
        const Status status = run_locked(k, syndromes, batch, out.data());
        if (!status) return status.error();
    } catch (...) {
        // Whatever threw left the buffers in an unknown state; no later
        // attempt may trust them.
        poisoned_ = true;
        throw;
    }
    return out;
}

}  // namespace vornex
