#include "gpu/cuda_batch.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "code/utf8.h"

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

std::span<const uint8_t> as_bytes(const std::vector<uint32_t>& v) {
    return {reinterpret_cast<const uint8_t*>(v.data()), v.size() * sizeof(uint32_t)};
}

// Destroys a program on every path out of the compile sequence.
struct ProgramGuard {
    const NvrtcApi& nvrtc;
    nvrtcProgram program = nullptr;
    ~ProgramGuard() {
        if (program != nullptr) nvrtc.nvrtcDestroyProgram(&program);
    }
};

Status nvrtc_failure(const NvrtcApi& nvrtc, const char* call, nvrtcResult code) {
    return runtime_error(std::string(call) + " failed: " + nvrtc_error_text(nvrtc, code));
}

// Context creation on device 0, after the device count check.
Result<CUcontext> open_context(const CudaDriverApi& d, CUdevice& device) {
    if (Status s = check_cu(d, "cuInit", d.cuInit(0)); !s) return s.error();
    int count = 0;
    if (Status s = check_cu(d, "cuDeviceGetCount", d.cuDeviceGetCount(&count)); !s) return s.error();
    if (count < 1) return runtime_error("No CUDA device found");
    if (Status s = check_cu(d, "cuDeviceGet", d.cuDeviceGet(&device, 0)); !s) return s.error();
    CUcontext context = nullptr;
    if (Status s = check_cu(d, "cuCtxCreate", d.cuCtxCreate_v2(&context, 0, device)); !s) return s.error();
    return context;
}

Result<std::string> build_ptx(const GpuLoaders& loaders, int major, int minor) {
    // The compiler library is closed as soon as the PTX text is out.
    const Result<NvrtcApi> nvrtc = loaders.nvrtc();
    if (!nvrtc) return nvrtc.error();
    return compile_to_ptx(nvrtc.value(), kKernelSource, major, minor);
}

Status load_kernel(GpuKernel& k, const std::string& ptx) {
    const CudaDriverApi& d = k.context.driver();
    CUmodule module = nullptr;
    if (Status s = check_cu(d, "cuModuleLoadDataEx", d.cuModuleLoadDataEx(&module, ptx.c_str(), 0, nullptr, nullptr));
        !s)
        return s;
    k.module = DeviceModule(&d, module);
    return check_cu(d, "cuModuleGetFunction", d.cuModuleGetFunction(&k.function, module, kKernelEntryPoint));
}

Status upload_edges(GpuKernel& k, const CheckGraph& graph) {
    std::vector<uint32_t> a, b, q;
    a.reserve(graph.edges.size());
    b.reserve(graph.edges.size());
    q.reserve(graph.edges.size());
    for (const CheckEdge& e : graph.edges) {
        a.push_back(e.a);
        b.push_back(e.b);
        q.push_back(e.q);
    }
    const std::pair<DeviceBuffer*, std::pair<const std::vector<uint32_t>*, const char*>> plan[] = {
        {&k.edge_a, {&a, "edge_a"}}, {&k.edge_b, {&b, "edge_b"}}, {&k.edge_q, {&q, "edge_q"}}};
    for (const auto& [slot, source] : plan) {
        auto buffer = DeviceBuffer::upload(k.context, as_bytes(*source.first), source.second);
        if (!buffer) return buffer.error();
        *slot = std::move(buffer).value();
    }
    return ok_status();
}

}  // namespace

const char* cuda_kernel_source() { return kKernelSource; }

Result<std::string> compile_to_ptx(const NvrtcApi& nvrtc, const char* source, int major, int minor) {
    ProgramGuard guard{nvrtc};
    nvrtcResult rc = nvrtc.nvrtcCreateProgram(&guard.program, source, kKernelProgramName, 0, nullptr, nullptr);
    if (rc != 0) {
        guard.program = nullptr;
        return nvrtc_failure(nvrtc, "nvrtcCreateProgram", rc).error();
    }
    const std::string arch = "--gpu-architecture=compute_" + std::to_string(major) + std::to_string(minor);
    const char* options[] = {arch.c_str(), "--std=c++17"};
    rc = nvrtc.nvrtcCompileProgram(guard.program, 2, options);
    if (rc != 0) {
        std::string message = "nvrtcCompileProgram failed: ";
        message += nvrtc_error_text(nvrtc, rc);
        size_t log_size = 0;
        if (nvrtc.nvrtcGetProgramLogSize(guard.program, &log_size) == 0 && log_size >= 2) {
            std::string log(log_size, '\0');
            if (nvrtc.nvrtcGetProgramLog(guard.program, log.data()) == 0) {
                log.resize(log.find('\0') == std::string::npos ? log.size() : log.find('\0'));
                message += '\n';
                message += utf8_lossy(log);
            }
        }
        return runtime_error(std::move(message));
    }
    size_t ptx_size = 0;
    if ((rc = nvrtc.nvrtcGetPTXSize(guard.program, &ptx_size)) != 0)
        return nvrtc_failure(nvrtc, "nvrtcGetPTXSize", rc).error();
    std::string ptx(ptx_size, '\0');
    if ((rc = nvrtc.nvrtcGetPTX(guard.program, ptx.data())) != 0)
        return nvrtc_failure(nvrtc, "nvrtcGetPTX", rc).error();
    rc = nvrtc.nvrtcDestroyProgram(&guard.program);
    guard.program = nullptr;
    if (rc != 0) return nvrtc_failure(nvrtc, "nvrtcDestroyProgram", rc).error();
    // The PTX image is handed to the driver as a C string.
    if (const size_t end = ptx.find('\0'); end != std::string::npos) ptx.resize(end);
    return ptx;
}

CudaBatchDecoder::CudaBatchDecoder(UnionFindDecoder cpu, std::unique_ptr<State> state, std::string device_name,
                                   std::pair<int, int> capability)
    : cpu_(std::move(cpu)), state_(std::move(state)), device_name_(std::move(device_name)), capability_(capability) {}

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
    Result<CUcontext> context = open_context(d, device);
    if (!context) return context.error();

    // From here on the state owns the context: any failure tears down what
    // was made so far, newest first.
    auto state = std::make_unique<State>();
    GpuKernel& k = state->kernel;
    k.context = DeviceContext(driver.value(), context.value());

    Result<CheckGraph> graph = build_check_graph(std::move(check_to_qubits), n_qubits);
    if (!graph) return runtime_error(graph.error().message);
    const CheckGraph& g = graph.value();
    k.n_qubits = g.n_qubits;
    k.n_checks = g.n_checks;
    k.n_nodes = g.n_nodes;
    k.n_edges = g.edges.size();

    char name[256] = {};
    if (Status s = check_cu(d, "cuDeviceGetName", d.cuDeviceGetName(name, sizeof name, device)); !s)
        return s.error();
    std::pair<int, int> capability{0, 0};
    if (Status s = check_cu(d, "cuDeviceComputeCapability",
                            d.cuDeviceComputeCapability(&capability.first, &capability.second, device));
        !s)
        return s.error();

    {
        const Result<std::string> ptx = build_ptx(loaders, capability.first, capability.second);
        if (!ptx) return ptx.error();
        if (Status s = load_kernel(k, ptx.value()); !s) return s.error();
    }
    if (Status s = upload_edges(k, g); !s) return s.error();

    const std::string device_name = utf8_lossy(std::string_view(name, strnlen(name, sizeof name)));
    return CudaBatchDecoder(UnionFindDecoder(std::move(graph).value()), std::move(state), device_name, capability);
}

Result<std::vector<uint8_t>> CudaBatchDecoder::gpu_attempt(std::span<const uint8_t> syndromes,
                                                           uint64_t n_shots) const {
    return state_->workspace.decode(state_->kernel, syndromes.data(), n_shots);
}

Result<std::vector<uint8_t>> CudaBatchDecoder::batch_decode(std::span<const uint8_t> syndromes,
                                                            size_t n_shots) const {
    if (n_shots == 0) return std::vector<uint8_t>{};
    if (n_shots > kU32Max) return runtime_error("CUDA batch size exceeds u32 kernel limit");
    size_t total = 0;
    if (__builtin_mul_overflow(n_shots, n_checks(), &total)) return runtime_error("CUDA syndrome buffer size overflow");

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
            ++s.total_failures;
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
    ++s.total_failures;
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
