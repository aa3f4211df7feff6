#include "gpu/cuda_workspace.h"

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

DeviceContext::DeviceContext(DeviceContext&& other) noexcept
    : driver_(std::move(other.driver_)), context_(other.context_) {
    other.context_ = nullptr;
}

DeviceContext& DeviceContext::operator=(DeviceContext&& other) noexcept {
    if (this != &other) {
        if (context_ != nullptr) driver_->cuCtxDestroy_v2(context_);
        driver_ = std::move(other.driver_);
        context_ = other.context_;
        other.context_ = nullptr;
    }
    return *this;
}

DeviceContext::~DeviceContext() {
    if (context_ != nullptr) driver_->cuCtxDestroy_v2(context_);
}

Status DeviceContext::make_current() const {
    return check_cu(*driver_, "cuCtxSetCurrent", driver_->cuCtxSetCurrent(context_));
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

DeviceBuffer::DeviceBuffer(DeviceBuffer&& other) noexcept : context_(other.context_), ptr_(other.ptr_) {
    other.ptr_ = 0;
}

DeviceBuffer& DeviceBuffer::operator=(DeviceBuffer&& other) noexcept {
    if (this != &other) {
        release();
        context_ = other.context_;
        ptr_ = other.ptr_;
        other.ptr_ = 0;
    }
    return *this;
}

void DeviceBuffer::release() {
    if (ptr_ == 0) return;
    const CudaDriverApi& d = context_->driver();
    d.cuCtxSetCurrent(context_->get());
    d.cuMemFree_v2(ptr_);
    ptr_ = 0;
}

Result<DeviceBuffer> DeviceBuffer::allocate(const DeviceContext& context, size_t bytes, std::string_view name) {
    DeviceBuffer buffer;
    buffer.context_ = &context;
    const CudaDriverApi& d = context.driver();
    CUdeviceptr ptr = 0;
    const Status status = check_cu(d, labelled("cuMemAlloc", name), d.cuMemAlloc_v2(&ptr, bytes > 0 ? bytes : 1));
    if (!status) return status.error();
    buffer.ptr_ = ptr;
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

uint64_t CudaWorkspace::capacity() const {
    std::lock_guard lock(mutex_);
    return capacity_;
}

void CudaWorkspace::release() {
    std::lock_guard lock(mutex_);
    buffers_.syndromes.release();
    buffers_.corrections.release();
    buffers_.scratch_u32.release();
    buffers_.scratch_u8.release();
    capacity_ = 0;
}

void CudaWorkspace::poison() {
    std::lock_guard lock(mutex_);
    poisoned_ = true;
}

// Exactly `batch` shots, no headroom. The old set stays in place until the
// whole new set exists, so a failed growth leaves a usable workspace.
Status CudaWorkspace::grow(const GpuKernel& k, uint64_t batch) {
    uint64_t syn_bytes = 0, corr_bytes = 0, words = 0, word_bytes = 0, u8_bytes = 0;
    if (!mul(batch, k.n_checks, syn_bytes)) return overflow("CUDA syndrome workspace size overflow");
    if (!mul(batch, k.n_qubits, corr_bytes)) return overflow("CUDA correction workspace size overflow");
    if (!mul(batch, scratch_words_per_shot(k.n_nodes, k.n_edges), words) || !mul(words, 4, word_bytes))
        return overflow("CUDA u32 scratch size overflow");
    if (!mul(batch, scratch_bytes_per_shot(k.n_nodes, k.n_edges), u8_bytes))
        return overflow("CUDA u8 scratch size overflow");

    Buffers fresh;
    const std::pair<DeviceBuffer*, std::pair<uint64_t, const char*>> plan[] = {
        {&fresh.syndromes, {syn_bytes, "syndromes"}},
        {&fresh.corrections, {corr_bytes, "corrections"}},
        {&fresh.scratch_u32, {word_bytes, "scratch_u32"}},
        {&fresh.scratch_u8, {u8_bytes, "scratch_u8"}},
    };
    for (const auto& [slot, sized] : plan) {
        auto buffer = DeviceBuffer::allocate(k.context, sized.first, sized.second);
        if (!buffer) return buffer.error();
        *slot = std::move(buffer).value();
    }
    buffers_ = std::move(fresh);
    capacity_ = batch;
    return ok_status();
}

Status CudaWorkspace::run_locked(const GpuKernel& k, const uint8_t* syndromes, uint64_t batch, uint8_t* out) {
    if (capacity_ < batch) {
        if (Status grown = grow(k, batch); !grown) return grown;
    }
    const CudaDriverApi& d = k.context.driver();
    const uint64_t syn_bytes = batch * k.n_checks;
    Status status = check_cu(d, "cuMemcpyHtoD(syndromes)",
                             d.cuMemcpyHtoD_v2(buffers_.syndromes.get(), syndromes, syn_bytes));
    if (!status) return status;

    CUdeviceptr syn = buffers_.syndromes.get(), ea = k.edge_a.get(), eb = k.edge_b.get(), eq = k.edge_q.get();
    CUdeviceptr corr = buffers_.corrections.get(), s32 = buffers_.scratch_u32.get(), s8 = buffers_.scratch_u8.get();
    auto n_qubits = static_cast<uint32_t>(k.n_qubits), n_checks = static_cast<uint32_t>(k.n_checks);
    auto n_nodes = static_cast<uint32_t>(k.n_nodes), n_edges = static_cast<uint32_t>(k.n_edges);
    auto batch_size = static_cast<uint32_t>(batch);
    void* params[] = {&syn, &ea, &eb, &eq, &corr, &s32, &s8, &n_qubits, &n_checks, &n_nodes, &n_edges, &batch_size};
    const auto blocks = static_cast<unsigned>((batch + kBlockSize - 1) / kBlockSize);
    status = check_cu(d, "cuLaunchKernel",
                      d.cuLaunchKernel(k.function, blocks, 1, 1, kBlockSize, 1, 1, 0, nullptr, params, nullptr));
    if (!status) return status;
    status = check_cu(d, "cuCtxSynchronize", d.cuCtxSynchronize());
    if (!status) return status;
    return check_cu(d, "cuMemcpyDtoH(corrections)",
                    d.cuMemcpyDtoH_v2(out, buffers_.corrections.get(), batch * k.n_qubits));
}

Result<std::vector<uint8_t>> CudaWorkspace::decode(const GpuKernel& k, const uint8_t* syndromes, uint64_t batch) {
    if (Status current = k.context.make_current(); !current) return current.error();
    uint64_t out_bytes = 0;
    if (!mul(batch, k.n_qubits, out_bytes) || out_bytes > SIZE_MAX)
        return runtime_error("CUDA correction buffer size overflow");
    std::vector<uint8_t> out(out_bytes);

    std::unique_lock lock(mutex_);
    if (poisoned_) return runtime_error("CUDA workspace lock poisoned");
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
