#include "gpu/fake_driver.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "gpu/kernel_host.h"

namespace vornex::testing {
namespace {

FakeDevice g_fake;
// The primary context's handle; a reset gives it a new one.
uintptr_t g_primary = 0x1000;
thread_local CUcontext t_current = nullptr;
// The compiler whose library is "open".
size_t g_compiler = 0;

constexpr int kInvalidValue = 1;
constexpr int kOutOfMemory = 2;
constexpr int kInvalidContext = 201;
constexpr int kUnsupportedPtx = 222;

CUcontext primary() { return reinterpret_cast<CUcontext>(g_primary); }

// Every call that works in a context: counted when ours is not current, and
// failed with the sticky code while one stands.
int context_call() {
    if (t_current != primary()) ++g_fake.calls_outside_context;
    return g_fake.sticky_code;
}

size_t live_bytes() {
    size_t total = 0;
    for (const auto& [ptr, block] : g_fake.memory) total += block.size();
    return total;
}

CUresult fake_init(unsigned) { return g_fake.init_result; }
CUresult fake_count(int* n) {
    *n = g_fake.device_count;
    return 0;
}
CUresult fake_get(CUdevice* d, int ordinal) {
    *d = ordinal;
    return 0;
}
CUresult fake_name(char* out, int len, CUdevice) {
    std::strncpy(out, g_fake.name.c_str(), static_cast<size_t>(len));
    return 0;
}
CUresult fake_capability(int* major, int* minor, CUdevice) {
    *major = g_fake.major;
    *minor = g_fake.minor;
    return 0;
}
CUresult fake_ctx_create(CUcontext*, unsigned, CUdevice) { return kInvalidValue; }
CUresult fake_ctx_destroy(CUcontext) { return kInvalidValue; }
CUresult fake_retain(CUcontext* c, CUdevice) {
    if (g_fake.retain_result != 0) return g_fake.retain_result;
    ++g_fake.primary_retains;
    *c = primary();
    return 0;
}
CUresult fake_release(CUdevice) {
    if (g_fake.primary_retains == 0) return kInvalidContext;
    --g_fake.primary_retains;
    g_fake.releases.push_back("release");
    return 0;
}
CUresult fake_reset(CUdevice) {
    if (g_fake.reset_result != 0) return g_fake.reset_result;
    ++g_fake.primary_resets;
    g_fake.sticky_code = 0;
    // Everything the context held is gone with it.
    g_fake.memory.clear();
    g_fake.alloc_number.clear();
    g_fake.live_modules = 0;
    g_primary += 0x10;
    return 0;
}
CUresult fake_get_current(CUcontext* c) {
    *c = t_current;
    return 0;
}
CUresult fake_set_current(CUcontext c) {
    t_current = c;
    return 0;
}
CUresult fake_driver_version(int* v) {
    *v = 13000;
    return 0;
}
CUresult fake_sync() {
    if (int code = context_call()) return code;
    const int code = g_fake.sync_result;
    g_fake.sync_result = 0;
    if (is_sticky_error(code)) g_fake.sticky_code = code;
    return code;
}
// The ISA of a PTX text's ".version a.b" line as 10 * a + b.
int ptx_isa_of(const char* ptx) {
    const char* at = std::strstr(ptx, ".version ");
    int major = 0, minor = 0;
    if (at == nullptr || std::sscanf(at, ".version %d.%d", &major, &minor) != 2) return 0;
    return 10 * major + minor;
}
CUresult fake_module_load(CUmodule* m, const void* image, unsigned n_options, int*, void**) {
    if (int code = context_call()) return code;
    if (n_options != 0) return kInvalidValue;
    g_fake.last_ptx = static_cast<const char*>(image);
    if (ptx_isa_of(g_fake.last_ptx.c_str()) > g_fake.driver_ptx_isa) return kUnsupportedPtx;
    ++g_fake.live_modules;
    *m = reinterpret_cast<CUmodule>(0x2000);
    return 0;
}
CUresult fake_module_unload(CUmodule) {
    context_call();
    --g_fake.live_modules;
    g_fake.releases.push_back("unload");
    return 0;
}
// Function handles 0x3000 + the layout's number.
constexpr const char* kEntryPoints[] = {"uf_decode_batch_cuda", "uf_decode_batch_lanes_u16",
                                        "uf_decode_batch_lanes_u32"};
CUresult fake_get_function(CUfunction* f, CUmodule, const char* name) {
    for (uintptr_t i = 0; i < 3; ++i)
        if (std::strcmp(name, kEntryPoints[i]) == 0) {
            *f = reinterpret_cast<CUfunction>(0x3000 + i);
            return 0;
        }
    return 500;
}
CUresult fake_alloc(CUdeviceptr* p, size_t bytes) {
    if (int code = context_call()) return code;
    if (++g_fake.allocs == g_fake.fail_alloc_number) return kOutOfMemory;
    if (g_fake.memory_limit != 0 && live_bytes() + bytes > g_fake.memory_limit) return kOutOfMemory;
    std::vector<uint8_t> block(bytes, 0xCD);
    *p = reinterpret_cast<uintptr_t>(block.data());
    g_fake.memory.emplace(*p, std::move(block));
    g_fake.alloc_number[*p] = g_fake.allocs;
    return 0;
}
CUresult fake_free(CUdeviceptr p) {
    context_call();
    if (g_fake.memory.count(p) == 0) return kInvalidValue;
    g_fake.releases.push_back("free " + std::to_string(g_fake.alloc_number[p]));
    g_fake.memory.erase(p);
    g_fake.alloc_number.erase(p);
    return 0;
}
CUresult fake_mem_info(size_t* free_bytes, size_t* total) {
    if (int code = context_call()) return code;
    const size_t limit = g_fake.memory_limit != 0 ? g_fake.memory_limit : size_t{1} << 34;
    *total = limit;
    *free_bytes = limit - std::min(limit, live_bytes());
    return 0;
}
CUresult fake_htod(CUdeviceptr dst, const void* src, size_t n) {
    if (int code = context_call()) return code;
    auto it = g_fake.memory.find(dst);
    if (it == g_fake.memory.end() || it->second.size() < n) return kInvalidValue;
    std::memcpy(it->second.data(), src, n);
    return 0;
}
CUresult fake_dtoh(void* dst, CUdeviceptr src, size_t n) {
    if (int code = context_call()) return code;
    auto it = g_fake.memory.find(src);
    if (it == g_fake.memory.end() || it->second.size() < n) return kInvalidValue;
    std::memcpy(dst, it->second.data(), n);
    return 0;
}
CUresult fake_htod_async(CUdeviceptr dst, const void* src, size_t n, CUstream) { return fake_htod(dst, src, n); }
CUresult fake_dtoh_async(void* dst, CUdeviceptr src, size_t n, CUstream) { return fake_dtoh(dst, src, n); }
CUresult fake_stream_create(CUstream* s, unsigned) {
    if (int code = context_call()) return code;
    *s = reinterpret_cast<CUstream>(0x5000);
    return 0;
}
CUresult fake_stream_destroy(CUstream) { return 0; }
CUresult fake_stream_sync(CUstream) { return fake_sync(); }
CUresult fake_host_alloc(void** p, size_t bytes, unsigned) {
    if (int code = context_call()) return code;
    *p = std::malloc(bytes > 0 ? bytes : 1);
    return *p != nullptr ? 0 : kOutOfMemory;
}
CUresult fake_free_host(void* p) {
    std::free(p);
    return 0;
}
CUresult fake_launch(CUfunction f, unsigned gx, unsigned gy, unsigned gz, unsigned bx, unsigned by, unsigned bz,
                     unsigned shared, CUstream, void** params, void** extra) {
    if (int code = context_call()) return code;
    const auto entry = reinterpret_cast<uintptr_t>(f) - 0x3000;
    if (entry > 2 || gy != 1 || gz != 1 || by != 1 || bz != 1 || shared != 0 || extra != nullptr)
        return kInvalidValue;
    ++g_fake.launches;
    if (g_fake.launch_result != 0) {
        if (is_sticky_error(g_fake.launch_result)) g_fake.sticky_code = g_fake.launch_result;
        return g_fake.launch_result;
    }
    launch_kernel_on_host(static_cast<KernelLayout>(entry), gx, bx, params);
    return 0;
}
// The driver's name and description of each code the stand-in returns.
struct FakeErrorText {
    CUresult code;
    const char* name;
    const char* text;
};
constexpr FakeErrorText kFakeErrors[] = {
    {kOutOfMemory, "CUDA_ERROR_OUT_OF_MEMORY", "out of memory"},
    {kInvalidValue, "CUDA_ERROR_INVALID_VALUE", "invalid argument"},
    {kInvalidContext, "CUDA_ERROR_INVALID_CONTEXT", "invalid device context"},
    {kUnsupportedPtx, "CUDA_ERROR_UNSUPPORTED_PTX_VERSION",
     "the provided PTX was compiled with an unsupported toolchain."},
    {700, "CUDA_ERROR_ILLEGAL_ADDRESS", "an illegal memory access was encountered"},
    {719, "CUDA_ERROR_LAUNCH_FAILED", "unspecified launch failure"},
};
template <const char* FakeErrorText::*Field>
CUresult fake_error_field(CUresult code, const char** out) {
    for (const FakeErrorText& e : kFakeErrors)
        if (e.code == code) {
            *out = e.*Field;
            return 0;
        }
    return kInvalidValue;
}
CUresult fake_error_name(CUresult code, const char** out) { return fake_error_field<&FakeErrorText::name>(code, out); }
CUresult fake_error_string(CUresult code, const char** out) {
    return fake_error_field<&FakeErrorText::text>(code, out);
}

const FakeCompiler& compiler() { return g_fake.compilers.at(g_compiler); }
std::string g_log;
std::string g_ptx;

nvrtcResult fake_create(nvrtcProgram* p, const char*, const char* name, int n_headers, const char* const*,
                        const char* const*) {
    if (std::strcmp(name, "vornex_cuda_kernels.cu") != 0 || n_headers != 0) return 1;
    *p = reinterpret_cast<nvrtcProgram>(0x4000);
    return 0;
}
nvrtcResult fake_compile(nvrtcProgram, int n, const char* const* options) {
    g_fake.compile_options.assign(options, options + n);
    int arch = 0;
    if (n < 1 || std::sscanf(options[0], "--gpu-architecture=compute_%d", &arch) != 1) return 5;
    const auto& archs = compiler().archs;
    if (std::find(archs.begin(), archs.end(), arch) == archs.end()) {
        g_log = "nvrtc: error: invalid value for --gpu-architecture (-arch)\n";
        return 5;
    }
    g_log.clear();
    g_ptx = ".version " + std::to_string(compiler().ptx_isa / 10) + "." + std::to_string(compiler().ptx_isa % 10) +
            "\n.target sm_" + std::to_string(arch) + "\n.visible .entry uf_decode_batch_cuda()";
    return 0;
}
nvrtcResult fake_ptx_size(nvrtcProgram, size_t* n) {
    *n = g_ptx.size() + 1;
    return 0;
}
nvrtcResult fake_ptx(nvrtcProgram, char* out) {
    std::memcpy(out, g_ptx.c_str(), g_ptx.size() + 1);
    return 0;
}
nvrtcResult fake_log_size(nvrtcProgram, size_t* n) {
    *n = g_log.size() + 1;
    return 0;
}
nvrtcResult fake_log(nvrtcProgram, char* out) {
    std::memcpy(out, g_log.c_str(), g_log.size() + 1);
    return 0;
}
nvrtcResult fake_destroy(nvrtcProgram* p) {
    *p = nullptr;
    return 0;
}
const char* fake_nvrtc_error(nvrtcResult code) { return code == 5 ? "NVRTC_ERROR_INVALID_OPTION" : nullptr; }
nvrtcResult fake_version(int* major, int* minor) {
    *major = compiler().major;
    *minor = compiler().minor;
    return 0;
}
nvrtcResult fake_num_archs(int* n) {
    *n = static_cast<int>(compiler().archs.size());
    return 0;
}
nvrtcResult fake_archs(int* out) {
    std::copy(compiler().archs.begin(), compiler().archs.end(), out);
    return 0;
}

Result<NvrtcApi> open_compiler(size_t index) {
    g_compiler = index;
    g_fake.compilers_opened.push_back(compiler().name);
    NvrtcApi n;
    n.nvrtcCreateProgram = fake_create;
    n.nvrtcCompileProgram = fake_compile;
    n.nvrtcGetPTXSize = fake_ptx_size;
    n.nvrtcGetPTX = fake_ptx;
    n.nvrtcGetProgramLogSize = fake_log_size;
    n.nvrtcGetProgramLog = fake_log;
    n.nvrtcDestroyProgram = fake_destroy;
    n.nvrtcGetErrorString = fake_nvrtc_error;
    n.nvrtcVersion = fake_version;
    if (compiler().lists_archs) {
        n.nvrtcGetNumSupportedArchs = fake_num_archs;
        n.nvrtcGetSupportedArchs = fake_archs;
    }
    n.name = compiler().name;
    return n;
}

}  // namespace

FakeDevice& fake() { return g_fake; }
void reset_fake() {
    g_fake = FakeDevice{};
    g_primary = 0x1000;
    t_current = nullptr;
}
CUcontext fake_primary_context() { return primary(); }

void expect_device_released() {
    EXPECT_EQ(g_fake.primary_retains, 0);
    EXPECT_EQ(g_fake.live_modules, 0);
    EXPECT_TRUE(g_fake.memory.empty());
    EXPECT_EQ(g_fake.calls_outside_context, 0);
}
void fake_set_current_context(CUcontext context) { t_current = context; }
CUcontext fake_current_context() { return t_current; }

Result<SharedDriver> fake_driver_loader() {
    auto d = std::make_shared<CudaDriverApi>();
    d->cuInit = fake_init;
    d->cuDeviceGetCount = fake_count;
    d->cuDeviceGet = fake_get;
    d->cuDeviceGetName = fake_name;
    d->cuDeviceComputeCapability = fake_capability;
    d->cuCtxCreate_v2 = fake_ctx_create;
    d->cuCtxDestroy_v2 = fake_ctx_destroy;
    d->cuCtxSetCurrent = fake_set_current;
    d->cuCtxSynchronize = fake_sync;
    d->cuModuleLoadDataEx = fake_module_load;
    d->cuModuleUnload = fake_module_unload;
    d->cuModuleGetFunction = fake_get_function;
    d->cuMemAlloc_v2 = fake_alloc;
    d->cuMemFree_v2 = fake_free;
    d->cuMemcpyHtoD_v2 = fake_htod;
    d->cuMemcpyDtoH_v2 = fake_dtoh;
    d->cuLaunchKernel = fake_launch;
    d->cuGetErrorName = fake_error_name;
    d->cuGetErrorString = fake_error_string;
    d->cuDevicePrimaryCtxRetain = fake_retain;
    d->cuDevicePrimaryCtxRelease_v2 = fake_release;
    d->cuDevicePrimaryCtxReset_v2 = fake_reset;
    d->cuCtxGetCurrent = fake_get_current;
    d->cuDriverGetVersion = fake_driver_version;
    d->cuMemGetInfo_v2 = fake_mem_info;
    d->cuStreamCreate = fake_stream_create;
    d->cuStreamDestroy_v2 = fake_stream_destroy;
    d->cuStreamSynchronize = fake_stream_sync;
    d->cuMemcpyHtoDAsync_v2 = fake_htod_async;
    d->cuMemcpyDtoHAsync_v2 = fake_dtoh_async;
    d->cuMemHostAlloc = fake_host_alloc;
    d->cuMemFreeHost = fake_free_host;
    return SharedDriver(std::move(d));
}

Result<NvrtcApi> fake_nvrtc_loader() { return open_compiler(0); }

GpuLoaders fake_loaders() {
    GpuLoaders loaders{fake_driver_loader, {}};
    for (size_t i = 0; i < g_fake.compilers.size(); ++i)
        loaders.compilers.emplace_back([i] { return open_compiler(i); });
    return loaders;
}

GpuLoaders fake_driver_real_nvrtc() { return {fake_driver_loader, installed_nvrtc_loaders()}; }

}  // namespace vornex::testing
