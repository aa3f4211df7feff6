#include "gpu/fake_driver.h"

#include <cstring>

#include "gpu/kernel_host.h"

namespace vornex::testing {
namespace {

FakeDevice g_fake;

constexpr int kOutOfMemory = 2;
constexpr int kInvalidValue = 1;

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
CUresult fake_ctx_create(CUcontext* c, unsigned, CUdevice) {
    if (g_fake.ctx_create_result != 0) return g_fake.ctx_create_result;
    ++g_fake.live_contexts;
    *c = reinterpret_cast<CUcontext>(0x1000);
    return 0;
}
CUresult fake_ctx_destroy(CUcontext) {
    --g_fake.live_contexts;
    g_fake.releases.push_back("destroy");
    return 0;
}
CUresult fake_set_current(CUcontext c) { return c == reinterpret_cast<CUcontext>(0x1000) ? 0 : kInvalidValue; }
CUresult fake_sync() { return 0; }
CUresult fake_module_load(CUmodule* m, const void* image, unsigned n_options, int*, void**) {
    if (n_options != 0) return kInvalidValue;
    g_fake.last_ptx = static_cast<const char*>(image);
    ++g_fake.live_modules;
    *m = reinterpret_cast<CUmodule>(0x2000);
    return 0;
}
CUresult fake_module_unload(CUmodule) {
    --g_fake.live_modules;
    g_fake.releases.push_back("unload");
    return 0;
}
CUresult fake_get_function(CUfunction* f, CUmodule, const char* name) {
    if (std::strcmp(name, "uf_decode_batch_cuda") != 0) return 500;
    *f = reinterpret_cast<CUfunction>(0x3000);
    return 0;
}
CUresult fake_alloc(CUdeviceptr* p, size_t bytes) {
    if (++g_fake.allocs == g_fake.fail_alloc_number) return kOutOfMemory;
    std::vector<uint8_t> block(bytes, 0xCD);
    *p = reinterpret_cast<uintptr_t>(block.data());
    g_fake.memory.emplace(*p, std::move(block));
    g_fake.alloc_number[*p] = g_fake.allocs;
    return 0;
}
CUresult fake_free(CUdeviceptr p) {
    if (g_fake.memory.erase(p) != 1) return kInvalidValue;
    g_fake.releases.push_back("free " + std::to_string(g_fake.alloc_number[p]));
    g_fake.alloc_number.erase(p);
    return 0;
}
CUresult fake_htod(CUdeviceptr dst, const void* src, size_t n) {
    auto it = g_fake.memory.find(dst);
    if (it == g_fake.memory.end() || it->second.size() < n) return kInvalidValue;
    std::memcpy(it->second.data(), src, n);
    return 0;
}
CUresult fake_dtoh(void* dst, CUdeviceptr src, size_t n) {
    auto it = g_fake.memory.find(src);
    if (it == g_fake.memory.end() || it->second.size() < n) return kInvalidValue;
    std::memcpy(dst, it->second.data(), n);
    return 0;
}
CUresult fake_launch(CUfunction f, unsigned gx, unsigned gy, unsigned gz, unsigned bx, unsigned by, unsigned bz,
                     unsigned shared, CUstream stream, void** params, void** extra) {
    if (f != reinterpret_cast<CUfunction>(0x3000) || gy != 1 || gz != 1 || by != 1 || bz != 1 || shared != 0 ||
        stream != nullptr || extra != nullptr)
        return kInvalidValue;
    ++g_fake.launches;
    if (g_fake.launch_result != 0) return g_fake.launch_result;
    launch_kernel_on_host(gx, bx, params);
    return 0;
}
CUresult fake_error_name(CUresult code, const char** out) {
    if (code == kOutOfMemory) *out = "CUDA_ERROR_OUT_OF_MEMORY";
    else if (code == kInvalidValue) *out = "CUDA_ERROR_INVALID_VALUE";
    else if (code == 719) *out = "CUDA_ERROR_LAUNCH_FAILED";
    else return kInvalidValue;
    return 0;
}
CUresult fake_error_string(CUresult code, const char** out) {
    if (code == kOutOfMemory) *out = "out of memory";
    else if (code == kInvalidValue) *out = "invalid argument";
    else if (code == 719) *out = "unspecified launch failure";
    else return kInvalidValue;
    return 0;
}

nvrtcResult fake_create(nvrtcProgram* p, const char*, const char* name, int n_headers, const char* const*,
                        const char* const*) {
    if (std::strcmp(name, "vornex_cuda_kernels.cu") != 0 || n_headers != 0) return 1;
    *p = reinterpret_cast<nvrtcProgram>(0x4000);
    return 0;
}
nvrtcResult fake_compile(nvrtcProgram, int n, const char* const* options) {
    g_fake.compile_options.assign(options, options + n);
    return 0;
}
constexpr const char kFakePtx[] = ".visible .entry uf_decode_batch_cuda()";
nvrtcResult fake_ptx_size(nvrtcProgram, size_t* n) {
    *n = sizeof kFakePtx;
    return 0;
}
nvrtcResult fake_ptx(nvrtcProgram, char* out) {
    std::memcpy(out, kFakePtx, sizeof kFakePtx);
    return 0;
}
nvrtcResult fake_log_size(nvrtcProgram, size_t* n) {
    *n = 1;
    return 0;
}
nvrtcResult fake_log(nvrtcProgram, char* out) {
    *out = 0;
    return 0;
}
nvrtcResult fake_destroy(nvrtcProgram* p) {
    *p = nullptr;
    return 0;
}
const char* fake_nvrtc_error(nvrtcResult) { return nullptr; }

}  // namespace

FakeDevice& fake() { return g_fake; }
void reset_fake() { g_fake = FakeDevice{}; }

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
    return SharedDriver(std::move(d));
}

Result<NvrtcApi> fake_nvrtc_loader() {
    NvrtcApi n;
    n.nvrtcCreateProgram = fake_create;
    n.nvrtcCompileProgram = fake_compile;
    n.nvrtcGetPTXSize = fake_ptx_size;
    n.nvrtcGetPTX = fake_ptx;
    n.nvrtcGetProgramLogSize = fake_log_size;
    n.nvrtcGetProgramLog = fake_log;
    n.nvrtcDestroyProgram = fake_destroy;
    n.nvrtcGetErrorString = fake_nvrtc_error;
    return n;
}

GpuLoaders fake_loaders() { return {fake_driver_loader, fake_nvrtc_loader}; }
GpuLoaders fake_driver_real_nvrtc() { return {fake_driver_loader, load_nvrtc}; }

}  // namespace vornex::testing
