// Run-time access to the CUDA driver and the NVRTC compiler.
//
// Neither library is linked: both are opened by file name when needed and
// resolved symbol by symbol into function tables, so the module imports and
// decodes on machines without a GPU. Result codes become readable texts here;
// callers only ever see a Status or a Result.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/result.h"

namespace vornex {

// Driver API handle and value types, as the public driver interface has them.
using CUresult = int;
using CUdevice = int;
using CUdeviceptr = unsigned long long;
using CUcontext = struct CUctx_st*;
using CUmodule = struct CUmod_st*;
using CUfunction = struct CUfunc_st*;
using CUstream = struct CUstream_st*;
using nvrtcResult = int;
using nvrtcProgram = struct _nvrtcProgram*;

// An open shared library; closed when the owner goes.
class SharedLibrary {
public:
    SharedLibrary() = default;
    explicit SharedLibrary(void* handle) : handle_(handle) {}
    SharedLibrary(SharedLibrary&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    SharedLibrary& operator=(SharedLibrary&& other) noexcept;
    SharedLibrary(const SharedLibrary&) = delete;
    SharedLibrary& operator=(const SharedLibrary&) = delete;
    ~SharedLibrary();

    // The first candidate that opens, or "<what> library not found: <os text>"
    // with the system's text for the last attempt.
    static Result<SharedLibrary> open_first(std::span<const char* const> candidates, std::string_view what);

    void* handle() const { return handle_; }
    // The file the loader actually opened (links resolved), or "" when the
    // system cannot say; tells two names of one installed library apart.
    std::string path() const;
    // Resolves `name` into `slot`, or "GPU runtime symbol <name>: <os text>".
    template <class Fn>
    Status resolve(const char* name, Fn& slot) const {
        void* address = nullptr;
        Status status = resolve_address(name, address);
        if (status) slot = reinterpret_cast<Fn>(address);
        return status;
    }

private:
    Status resolve_address(const char* name, void*& address) const;
    void* handle_ = nullptr;
};

// Entry points of the driver, in resolution order.
struct CudaDriverApi {
    SharedLibrary library;
    CUresult (*cuInit)(unsigned int) = nullptr;
    CUresult (*cuDeviceGetCount)(int*) = nullptr;
    CUresult (*cuDeviceGet)(CUdevice*, int) = nullptr;
    CUresult (*cuDeviceGetName)(char*, int, CUdevice) = nullptr;
    CUresult (*cuDeviceComputeCapability)(int*, int*, CUdevice) = nullptr;
    CUresult (*cuCtxCreate_v2)(CUcontext*, unsigned int, CUdevice) = nullptr;
    CUresult (*cuCtxDestroy_v2)(CUcontext) = nullptr;
    CUresult (*cuCtxSetCurrent)(CUcontext) = nullptr;
    CUresult (*cuCtxSynchronize)() = nullptr;
    CUresult (*cuModuleLoadDataEx)(CUmodule*, const void*, unsigned int, int*, void**) = nullptr;
    CUresult (*cuModuleUnload)(CUmodule) = nullptr;
    CUresult (*cuModuleGetFunction)(CUfunction*, CUmodule, const char*) = nullptr;
    CUresult (*cuMemAlloc_v2)(CUdeviceptr*, size_t) = nullptr;
    CUresult (*cuMemFree_v2)(CUdeviceptr) = nullptr;
    CUresult (*cuMemcpyHtoD_v2)(CUdeviceptr, const void*, size_t) = nullptr;
    CUresult (*cuMemcpyDtoH_v2)(void*, CUdeviceptr, size_t) = nullptr;
    CUresult (*cuLaunchKernel)(CUfunction, unsigned int, unsigned int, unsigned int, unsigned int, unsigned int,
                               unsigned int, unsigned int, CUstream, void**, void**) = nullptr;
    CUresult (*cuGetErrorName)(CUresult, const char**) = nullptr;
    CUresult (*cuGetErrorString)(CUresult, const char**) = nullptr;
    // Context hygiene: the device's primary context is shared with every
    // other CUDA user in the process, and the caller's current context is
    // put back after each call.
    CUresult (*cuDevicePrimaryCtxRetain)(CUcontext*, CUdevice) = nullptr;
    CUresult (*cuDevicePrimaryCtxRelease_v2)(CUdevice) = nullptr;
    CUresult (*cuDevicePrimaryCtxReset_v2)(CUdevice) = nullptr;
    CUresult (*cuCtxGetCurrent)(CUcontext*) = nullptr;
    CUresult (*cuDriverGetVersion)(int*) = nullptr;
    // Chunked batches: free memory, a stream, asynchronous copies from
    // pinned host buffers.
    CUresult (*cuMemGetInfo_v2)(size_t*, size_t*) = nullptr;
    CUresult (*cuStreamCreate)(CUstream*, unsigned int) = nullptr;
    CUresult (*cuStreamDestroy_v2)(CUstream) = nullptr;
    CUresult (*cuStreamSynchronize)(CUstream) = nullptr;
    CUresult (*cuMemcpyHtoDAsync_v2)(CUdeviceptr, const void*, size_t, CUstream) = nullptr;
    CUresult (*cuMemcpyDtoHAsync_v2)(void*, CUdeviceptr, size_t, CUstream) = nullptr;
    CUresult (*cuMemHostAlloc)(void**, size_t, unsigned int) = nullptr;
    CUresult (*cuMemFreeHost)(void*) = nullptr;
};

// Entry points of the compiler, in resolution order.
struct NvrtcApi {
    SharedLibrary library;
    nvrtcResult (*nvrtcCreateProgram)(nvrtcProgram*, const char*, const char*, int, const char* const*,
                                      const char* const*) = nullptr;
    nvrtcResult (*nvrtcCompileProgram)(nvrtcProgram, int, const char* const*) = nullptr;
    nvrtcResult (*nvrtcGetPTXSize)(nvrtcProgram, size_t*) = nullptr;
    nvrtcResult (*nvrtcGetPTX)(nvrtcProgram, char*) = nullptr;
    nvrtcResult (*nvrtcGetProgramLogSize)(nvrtcProgram, size_t*) = nullptr;
    nvrtcResult (*nvrtcGetProgramLog)(nvrtcProgram, char*) = nullptr;
    nvrtcResult (*nvrtcDestroyProgram)(nvrtcProgram*) = nullptr;
    const char* (*nvrtcGetErrorString)(nvrtcResult) = nullptr;
    // Optional: releases before 11.2 cannot list the architectures they
    // build for, and then the device's own is simply tried.
    nvrtcResult (*nvrtcVersion)(int*, int*) = nullptr;
    nvrtcResult (*nvrtcGetNumSupportedArchs)(int*) = nullptr;
    nvrtcResult (*nvrtcGetSupportedArchs)(int*) = nullptr;
    // How the library was found, for texts that say which compiler failed.
    std::string name;
};

// One installed compiler to try; it is opened only when its turn comes.
using NvrtcLoader = std::function<Result<NvrtcApi>()>;
// One loader per known NVRTC file name, newest release first.
std::vector<NvrtcLoader> installed_nvrtc_loaders();

// The driver table is shared by a decoder's GPU state and everything it
// created; the library closes with the last holder.
using SharedDriver = std::shared_ptr<const CudaDriverApi>;

// Opens the driver and resolves all 32 entry points.
Result<SharedDriver> load_cuda_driver();
// Opens NVRTC (newest release first) and resolves all 8 entry points.
Result<NvrtcApi> load_nvrtc();

// Same loaders over explicit candidate names, so the failure texts can be
// checked on any machine.
Result<SharedDriver> load_cuda_driver_from(std::span<const char* const> candidates);
Result<NvrtcApi> load_nvrtc_from(std::span<const char* const> candidates);

// Success for 0, else "<label> failed: <name> (<description>)" as a
// RuntimeError, with numeric and fixed fallbacks when the driver cannot name
// the code.
Status check_cu(const CudaDriverApi& driver, std::string_view call_label, CUresult code);

// The compiler's text for a result code, "nvrtcResult(<code>)" when it has none.
std::string nvrtc_error_text(const NvrtcApi& nvrtc, nvrtcResult code);

// True when both libraries load, the driver initialises and reports at least
// one device. Creates no context, never fails, keeps nothing loaded.
bool cuda_available();

// The probe over already-loaded tables (each may be missing).
bool cuda_available_with(const Result<SharedDriver>& driver, const Result<NvrtcApi>& nvrtc);

}  // namespace vornex
