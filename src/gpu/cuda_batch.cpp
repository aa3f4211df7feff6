#include "gpu/cuda_batch.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "base/utf8.h"

namespace vornex {
namespace {

// The kernel file is one VORNEX_KERNEL_TEXT(...) call; stringifying it
// carries the source in the module without a build step.
#define VORNEX_KERNEL_TEXT(...) #__VA_ARGS__
constexpr const char kKernelSource[] =
#include "gpu/vornex_cuda_kernels.cu"
    ;
#undef VORNEX_KERNEL_TEXT

constexpr uint64_t kU32Max = std::numeric_limits<uint32_t>::max();


// The user-level checks that precede any driver call.
Status validate_code(const CheckList& checks, std::optional<size_t> n_qubits) {
    if (checks.empty()) return runtime_error("check_to_qubits must be non-empty");
    for (const auto& check : checks)
        if (check.empty()) return runtime_error("CUDA stabilizer checks must be non-empty");
    if (checks.size() > kU32Max) return runtime_error("CUDA check count exceeds u32 kernel limit");
    if (!n_qubits) return ok_status();
    if (*n_qubits == 0) return runtime_error("n_qubits must be positive");
    uint32_t largest = 0;
    for (const auto& check : checks) largest = std::max(largest, *std::max_element(check.begin(), check.end()));
    if (largest >= *n_qubits)
        return runtime_error("qubit index " + std::to_string(largest) + " is outside n_qubits=" +
                             std::to_string(*n_qubits));
    if (*n_qubits > kU32Max) return runtime_error("CUDA qubit count exceeds u32 kernel limit");
    return ok_status();
}

// Device 0 and its primary context, after the device count check.
Result<DeviceContext> open_context(const SharedDriver& driver, CUdevice& device) {
    const CudaDriverApi& d = *driver;
    if (Status s = check_cu(d, "cuInit", d.cuInit(0)); !s) return s.error();
    int count = 0;
    if (Status s = check_cu(d, "cuDeviceGetCount", d.cuDeviceGetCount(&count)); !s) return s.error();
    if (count < 1) return runtime_error("No CUDA device found");
    if (Status s = check_cu(d, "cuDeviceGet", d.cuDeviceGet(&device, 0)); !s) return s.error();
    return DeviceContext::retain_primary(driver, device);
}

Status load_kernel(GpuKernel& k, const std::string& ptx) {
    const CudaDriverApi& d = k.context.driver();
    CUmodule module = nullptr;
    if (Status s = check_cu(d, "cuModuleLoadDataEx", d.cuModuleLoadDataEx(&module, ptx.c_str(), 0, nullptr, nullptr));
        !s)
        return s;
    k.module = DeviceModule(&d, module);
    return check_cu(d, "cuModuleGetFunction",
                    d.cuModuleGetFunction(&k.function, module, lanes_entry_point(k.index_bytes)));
}

// The edge list's values as `width`-byte entries, native byte order.
std::vector<uint8_t> packed(const CheckGraph& graph, uint32_t CheckEdge::*field, uint32_t width) {
    std::vector<uint8_t> bytes(graph.edges.size() * width);
    for (size_t i = 0; i < graph.edges.size(); ++i) {
        const uint32_t value = graph.edges[i].*field;
        if (width == 2) {
            const auto narrow = static_cast<uint16_t>(value);
            std::memcpy(bytes.data() + 2 * i, &narrow, 2);
        } else {
            std::memcpy(bytes.data() + 4 * i, &value, 4);
        }
    }
    return bytes;
}

Status upload_edges(GpuKernel& k, const CheckGraph& graph) {
    const std::pair<DeviceBuffer*, std::pair<uint32_t CheckEdge::*, const char*>> plan[] = {
        {&k.edge_a, {&CheckEdge::a, "edge_a"}}, {&k.edge_b, {&CheckEdge::b, "edge_b"}},
        {&k.edge_q, {&CheckEdge::q, "edge_q"}}};
    for (const auto& [slot, source] : plan) {
        auto buffer = DeviceBuffer::upload(k.context, packed(graph, source.first, k.index_bytes), source.second);
        if (!buffer) return buffer.error();
        *slot = std::move(buffer).value();
    }
    return ok_status();
}

}  // namespace

const char* cuda_kernel_source() { return kKernelSource; }

void CudaBatchDecoder::State::release_device_objects() {
    if (kernel.context.get() == nullptr) return;
    const ScopedCurrent current(kernel.context);
    kernel.edge_a.release();
    kernel.edge_b.release();
    kernel.edge_q.release();
    workspace.release();
    kernel.module = DeviceModule();
}

CudaBatchDecoder::CudaBatchDecoder(UnionFindDecoder cpu, std::unique_ptr<State> state, std::string device_name,
                                   std::pair<int, int> capability, std::string cpu_only_reason)
    : cpu_(std::move(cpu)),
      state_(std::move(state)),
      device_name_(std::move(device_name)),
      capability_(capability),
      cpu_only_reason_(std::move(cpu_only_reason)) {}

Result<CudaBatchDecoder> CudaBatchDecoder::create(CheckList check_to_qubits, std::optional<size_t> n_qubits) {
    return create_with(std::move(check_to_qubits), n_qubits, GpuLoaders{});
}

Result<CudaBatchDecoder> CudaBatchDecoder::create_with(CheckList check_to_qubits, std::optional<size_t> n_qubits,
                                                       const GpuLoaders& loaders) {
    if (Status s = validate_code(check_to_qubits, n_qubits); !s) return s.error();
    Result<SharedDriver> driver = loaders.driver();
    if (!driver) return driver.error();
    const CudaDriverApi& d = *driver.value();
    CUdevice device = 0;
    Result<DeviceContext> context = open_context(driver.value(), device);
    if (!context) return context.error();

    // From here on the state owns the context: any failure tears down what
    // was made so far, newest first.
    auto state = std::make_unique<State>();
    GpuKernel& k = state->kernel;
    k.context = std::move(context).value();
    // Everything below runs in the decoder's context; the caller's comes back
    // on every way out.
    std::optional<ScopedCurrent> current(std::in_place, k.context);
    if (!current->status()) return current->status().error();

    Result<CheckGraph> graph = build_check_graph(std::move(check_to_qubits), n_qubits);
    if (!graph) return runtime_error(graph.error().message);
    const CheckGraph& g = graph.value();
    k.n_qubits = g.n_qubits;
    k.n_checks = g.n_checks;
    k.n_nodes = g.n_nodes;
    k.n_edges = g.edges.size();
    k.index_bytes = index_bytes(k.n_nodes, k.n_edges, k.n_qubits);

    char name[256] = {};
    if (Status s = check_cu(d, "cuDeviceGetName", d.cuDeviceGetName(name, sizeof name, device)); !s)
        return s.error();
    std::pair<int, int> capability{0, 0};
    if (Status s = check_cu(d, "cuDeviceComputeCapability",
                            d.cuDeviceComputeCapability(&capability.first, &capability.second, device));
        !s)
        return s.error();
    const std::string device_name = utf8_lossy(std::string_view(name, strnlen(name, sizeof name)));

    Result<BuiltKernel> built = build_kernel_for_device(loaders.compilers, kKernelSource, capability.first,
                                                        capability.second,
                                                        [&k](const std::string& ptx) { return load_kernel(k, ptx); });
    if (!built) {
        // A device exists but nothing here can build for it: the decoder is
        // made anyway and decodes on the CPU, holding nothing on the device.
        current.reset();
        state->release_device_objects();
        state->kernel.context = DeviceContext();
        return CudaBatchDecoder(UnionFindDecoder(std::move(graph).value()), std::move(state), device_name,
                                capability, built.error().message);
    }
    state->ptx = std::move(built.value().ptx);
    if (Status s = upload_edges(k, g); !s) return s.error();
    current.reset();
    return CudaBatchDecoder(UnionFindDecoder(std::move(graph).value()), std::move(state), device_name, capability,
                            "");
}

std::optional<std::string> CudaBatchDecoder::degraded_reason() const {
    if (!cpu_only_reason_.empty()) return cpu_only_reason_;
    if (!state_->is_degraded.load()) return std::nullopt;
    std::lock_guard lock(state_->failure_mutex);
    return state_->last_failure;
}

void CudaBatchDecoder::record_failure(const Error& error) const {
    ++state_->total_failures;
    std::lock_guard lock(state_->failure_mutex);
    state_->last_failure = error.message;
}

Status CudaBatchDecoder::recreate_context() const {
    State& s = *state_;
    GpuKernel& k = s.kernel;
    // Frees in a lost context fail harmlessly; the reset drops them anyway.
    s.release_device_objects();
    if (Status reset = k.context.recreate(); !reset) return reset;
    const ScopedCurrent current(k.context);
    if (!current.status()) return current.status();
    if (Status loaded = load_kernel(k, s.ptx); !loaded) return loaded;
    if (Status uploaded = upload_edges(k, cpu_.graph()); !uploaded) return uploaded;
    s.context_lost.store(false);
    ++s.context_recreations;
    return ok_status();
}

Result<std::vector<uint8_t>> CudaBatchDecoder::gpu_attempt(std::span<const uint8_t> syndromes,
                                                           uint64_t n_shots) const {
    if (!has_kernel()) return runtime_error(cpu_only_reason_);
    State& s = *state_;
    std::lock_guard lock(s.rebuild_mutex);
    if (s.context_lost.load()) {
        if (Status recreated = recreate_context(); !recreated) return recreated.error();
    }
    auto result = s.workspace.decode(s.kernel, syndromes.data(), n_shots);
    if (!result && s.workspace.context_lost()) s.context_lost.store(true);
    return result;
}

Result<std::vector<uint8_t>> CudaBatchDecoder::batch_decode(std::span<const uint8_t> syndromes,
                                                            size_t n_shots) const {
    if (n_shots == 0) return std::vector<uint8_t>{};
    if (n_shots > kU32Max) return runtime_error("CUDA batch size exceeds u32 kernel limit");
    size_t total = 0;
    if (__builtin_mul_overflow(n_shots, n_checks(), &total)) return runtime_error("CUDA syndrome buffer size overflow");

    if (!has_kernel()) return cpu_.batch_decode(syndromes, n_shots);
    State& s = *state_;
    if (s.is_degraded.load()) {
        if (++s.degraded_calls % kRetryEvery == 0) {
            auto gpu = gpu_attempt(syndromes, n_shots);
            if (gpu) {
                s.is_degraded.store(false);
                s.consecutive_failures.store(0);
                s.degraded_calls.store(0);
                ++s.gpu_recoveries;
                return gpu;
            }
            record_failure(gpu.error());
        }
        return cpu_.batch_decode(syndromes, n_shots);
    }
    if (n_shots < kMinGpuBatch) return cpu_.batch_decode(syndromes, n_shots);
    auto gpu = gpu_attempt(syndromes, n_shots);
    if (gpu) {
        s.consecutive_failures.store(0);
        return gpu;
    }
    const uint64_t failures = ++s.consecutive_failures;
    record_failure(gpu.error());
    if (failures >= kDegradeAfter) s.is_degraded.store(true);
    return cpu_.batch_decode(syndromes, n_shots);
}

void CudaBatchDecoder::reset() const {
    State& s = *state_;
    s.consecutive_failures.store(0);
    s.total_failures.store(0);
    s.degraded_calls.store(0);
    s.is_degraded.store(false);
}

}  // namespace vornex
