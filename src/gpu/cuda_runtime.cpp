#include "gpu/cuda_runtime.h"

#include <dlfcn.h>
#include <link.h>

#include <climits>
#include <cstdlib>

#include <array>

namespace vornex {
namespace {

// The driver ships with the display driver under one well-known name.
constexpr std::array<const char*, 2> kDriverNames = {"libcuda.so.1", "libcuda.so"};

// Newest supported compiler release first, each by its soname and then in the
// toolkit folders; the unversioned names last pick up whatever development
// link a toolkit installed. Several names may reach one file; the kernel
// build skips a file it has already tried.
constexpr std::array<const char*, 14> kNvrtcNames = {
    "libnvrtc.so.13",
    "/usr/local/cuda/lib64/libnvrtc.so.13",
    "/usr/local/cuda/lib/libnvrtc.so.13",
    "libnvrtc.so.12",
    "/usr/local/cuda-12/lib64/libnvrtc.so.12",
    "/usr/local/cuda/lib64/libnvrtc.so.12",
    "/usr/local/cuda/lib/libnvrtc.so.12",
    "libnvrtc.so.11.2",
    "/usr/local/cuda-11/lib64/libnvrtc.so.11.2",
    "/usr/local/cuda/lib64/libnvrtc.so.11.2",
    "libnvrtc.so",
    "/usr/local/cuda/lib64/libnvrtc.so",
    "/usr/local/cuda/lib/libnvrtc.so",
    "/usr/local/cuda-11/lib64/libnvrtc.so",
};

std::string last_dl_error() {
    const char* text = dlerror();
    return text != nullptr ? text : "unknown error";
}

// Resolves each named slot in order; the first missing symbol decides.
template <class Table>
struct Resolver {
    const SharedLibrary& library;
    Table& table;
    Status status = ok_status();

    template <class Fn>
    Resolver& operator()(const char* name, Fn& slot) {
        if (status) status = library.resolve(name, slot);
        return *this;
    }
};

Status resolve_driver(CudaDriverApi& d) {
    Resolver<CudaDriverApi> r{d.library, d};
    r("cuInit", d.cuInit)("cuDeviceGetCount", d.cuDeviceGetCount)("cuDeviceGet", d.cuDeviceGet)(
        "cuDeviceGetName", d.cuDeviceGetName)("cuDeviceComputeCapability", d.cuDeviceComputeCapability)(
        "cuCtxCreate_v2", d.cuCtxCreate_v2)("cuCtxDestroy_v2", d.cuCtxDestroy_v2)(
        "cuCtxSetCurrent", d.cuCtxSetCurrent)("cuCtxSynchronize", d.cuCtxSynchronize)(
        "cuModuleLoadDataEx", d.cuModuleLoadDataEx)("cuModuleUnload", d.cuModuleUnload)(
        "cuModuleGetFunction", d.cuModuleGetFunction)("cuMemAlloc_v2", d.cuMemAlloc_v2)(
        "cuMemFree_v2", d.cuMemFree_v2)("cuMemcpyHtoD_v2", d.cuMemcpyHtoD_v2)(
        "cuMemcpyDtoH_v2", d.cuMemcpyDtoH_v2)("cuLaunchKernel", d.cuLaunchKernel)(
        "cuGetErrorName", d.cuGetErrorName)("cuGetErrorString", d.cuGetErrorString);
    r("cuDevicePrimaryCtxRetain", d.cuDevicePrimaryCtxRetain)("cuDevicePrimaryCtxRelease_v2",
                                                              d.cuDevicePrimaryCtxRelease_v2)(
        "cuDevicePrimaryCtxReset_v2", d.cuDevicePrimaryCtxReset_v2)("cuCtxGetCurrent", d.cuCtxGetCurrent)(
        "cuDriverGetVersion", d.cuDriverGetVersion)("cuMemGetInfo_v2", d.cuMemGetInfo_v2)(
        "cuStreamCreate", d.cuStreamCreate)("cuStreamDestroy_v2", d.cuStreamDestroy_v2)(
        "cuStreamSynchronize", d.cuStreamSynchronize)("cuMemcpyHtoDAsync_v2", d.cuMemcpyHtoDAsync_v2)(
        "cuMemcpyDtoHAsync_v2", d.cuMemcpyDtoHAsync_v2)("cuMemHostAlloc", d.cuMemHostAlloc)(
        "cuMemFreeHost", d.cuMemFreeHost);
    return r.status;
}

Status resolve_nvrtc(NvrtcApi& n) {
    Resolver<NvrtcApi> r{n.library, n};
    r("nvrtcCreateProgram", n.nvrtcCreateProgram)("nvrtcCompileProgram", n.nvrtcCompileProgram)(
        "nvrtcGetPTXSize", n.nvrtcGetPTXSize)("nvrtcGetPTX", n.nvrtcGetPTX)(
        "nvrtcGetProgramLogSize", n.nvrtcGetProgramLogSize)("nvrtcGetProgramLog", n.nvrtcGetProgramLog)(
        "nvrtcDestroyProgram", n.nvrtcDestroyProgram)("nvrtcGetErrorString", n.nvrtcGetErrorString);
    if (!r.status) return r.status;
    for (auto [name, slot] : {std::pair{"nvrtcGetNumSupportedArchs", &n.nvrtcGetNumSupportedArchs},
                              std::pair{"nvrtcGetSupportedArchs", &n.nvrtcGetSupportedArchs}})
        if (!n.library.resolve(name, *slot)) *slot = nullptr;
    if (!n.library.resolve("nvrtcVersion", n.nvrtcVersion)) n.nvrtcVersion = nullptr;
    return r.status;
}

// A driver text for `code`, or `fallback` when the driver has none.
std::string driver_text(CUresult (*lookup)(CUresult, const char**), CUresult code, std::string fallback) {
    const char* text = nullptr;
    if (lookup != nullptr && lookup(code, &text) == 0 && text != nullptr) return text;
    return fallback;
}

}  // namespace

SharedLibrary& SharedLibrary::operator=(SharedLibrary&& other) noexcept {
    if (this != &other) {
        if (handle_ != nullptr) dlclose(handle_);
        handle_ = other.handle_;
        other.handle_ = nullptr;
    }
    return *this;
}

SharedLibrary::~SharedLibrary() {
    if (handle_ != nullptr) dlclose(handle_);
}

Result<SharedLibrary> SharedLibrary::open_first(std::span<const char* const> candidates, std::string_view what) {
    std::string last = "no candidate library name";
    for (const char* name : candidates) {
        if (void* handle = dlopen(name, RTLD_NOW | RTLD_LOCAL)) return SharedLibrary(handle);
        last = last_dl_error();
    }
    return runtime_error(std::string(what) + " library not found: " + last);
}

std::string SharedLibrary::path() const {
    link_map* map = nullptr;
    if (handle_ == nullptr || dlinfo(handle_, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr)
        return "";
    char resolved[PATH_MAX];
    if (realpath(map->l_name, resolved) == nullptr) return map->l_name;
    return resolved;
}

Status SharedLibrary::resolve_address(const char* name, void*& address) const {
    dlerror();
    address = dlsym(handle_, name);
    if (address != nullptr) return ok_status();
    return runtime_error(std::string("GPU runtime symbol ") + name + ": " + last_dl_error());
}

Result<SharedDriver> load_cuda_driver_from(std::span<const char* const> candidates) {
    auto library = SharedLibrary::open_first(candidates, "CUDA driver");
    if (!library) return library.error();
    auto driver = std::make_shared<CudaDriverApi>();
    driver->library = std::move(library).value();
    if (Status status = resolve_driver(*driver); !status) return status.error();
    return SharedDriver(std::move(driver));
}

Result<NvrtcApi> load_nvrtc_from(std::span<const char* const> candidates) {
    auto library = SharedLibrary::open_first(candidates, "NVRTC");
    if (!library) return library.error();
    NvrtcApi nvrtc;
    nvrtc.library = std::move(library).value();
    nvrtc.name = candidates.size() == 1 ? candidates[0] : "NVRTC";
    if (Status status = resolve_nvrtc(nvrtc); !status) return status.error();
    return nvrtc;
}

Result<SharedDriver> load_cuda_driver() { return load_cuda_driver_from(kDriverNames); }

Result<NvrtcApi> load_nvrtc() { return load_nvrtc_from(kNvrtcNames); }

std::vector<NvrtcLoader> installed_nvrtc_loaders() {
    std::vector<NvrtcLoader> loaders;
    for (const char* name : kNvrtcNames)
        loaders.emplace_back([name] { return load_nvrtc_from(std::span<const char* const>(&name, 1)); });
    return loaders;
}

Status check_cu(const CudaDriverApi& driver, std::string_view call_label, CUresult code) {
    if (code == 0) return ok_status();
    const std::string name = driver_text(driver.cuGetErrorName, code, "CUresult(" + std::to_string(code) + ")");
    const std::string description = driver_text(driver.cuGetErrorString, code, "no driver error string");
    return runtime_error(std::string(call_label) + " failed: " + name + " (" + description + ")");
}

std::string nvrtc_error_text(const NvrtcApi& nvrtc, nvrtcResult code) {
    const char* text = nvrtc.nvrtcGetErrorString != nullptr ? nvrtc.nvrtcGetErrorString(code) : nullptr;
    if (text != nullptr) return text;
    return "nvrtcResult(" + std::to_string(code) + ")";
}

bool cuda_available_with(const Result<SharedDriver>& driver, const Result<NvrtcApi>& nvrtc) {
    if (!driver || !nvrtc) return false;
    const CudaDriverApi& d = *driver.value();
    if (d.cuInit(0) != 0) return false;
    int count = 0;
    return d.cuDeviceGetCount(&count) == 0 && count > 0;
}

bool cuda_available() {
    // Both tables are released when these go out of scope.
    const Result<SharedDriver> driver = load_cuda_driver();
    if (!driver) return false;
    const Result<NvrtcApi> nvrtc = load_nvrtc();
    return cuda_available_with(driver, nvrtc);
}

}  // namespace vornex
