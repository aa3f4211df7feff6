#include "gpu/kernel_build.h"

#include <algorithm>
#include <set>
#include <vector>

#include "base/utf8.h"

namespace vornex {
namespace {

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

// The compiler's architectures as 10 * major + minor, empty when it cannot say.
std::vector<int> supported_archs(const NvrtcApi& nvrtc) {
    int count = 0;
    if (nvrtc.nvrtcGetNumSupportedArchs == nullptr || nvrtc.nvrtcGetSupportedArchs == nullptr ||
        nvrtc.nvrtcGetNumSupportedArchs(&count) != 0 || count <= 0 || count > 4096)
        return {};
    std::vector<int> archs(static_cast<size_t>(count));
    if (nvrtc.nvrtcGetSupportedArchs(archs.data()) != 0) return {};
    return archs;
}

// "libnvrtc.so.13 (13.0)" when the release is known.
std::string compiler_label(const NvrtcApi& nvrtc) {
    int major = 0, minor = 0;
    if (nvrtc.nvrtcVersion == nullptr || nvrtc.nvrtcVersion(&major, &minor) != 0) return nvrtc.name;
    return nvrtc.name + " (" + std::to_string(major) + "." + std::to_string(minor) + ")";
}

std::string arch_text(int major, int minor) { return "compute_" + std::to_string(major) + std::to_string(minor); }

}  // namespace

Result<std::string> compile_to_ptx(const NvrtcApi& nvrtc, const char* source, int major, int minor) {
    ProgramGuard guard{nvrtc};
    nvrtcResult rc = nvrtc.nvrtcCreateProgram(&guard.program, source, kKernelProgramName, 0, nullptr, nullptr);
    if (rc != 0) {
        guard.program = nullptr;
        return nvrtc_failure(nvrtc, "nvrtcCreateProgram", rc).error();
    }
    const std::string arch = "--gpu-architecture=" + arch_text(major, minor);
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

std::optional<std::pair<int, int>> choose_target(const NvrtcApi& nvrtc, int major, int minor) {
    const std::vector<int> archs = supported_archs(nvrtc);
    const int device = 10 * major + minor;
    if (archs.empty() || std::find(archs.begin(), archs.end(), device) != archs.end())
        return std::pair{major, minor};
    int best = -1;
    for (int arch : archs)
        if (arch < device) best = std::max(best, arch);
    if (best < 0) return std::nullopt;
    return std::pair{best / 10, best % 10};
}

Result<BuiltKernel> build_kernel_for_device(std::span<const NvrtcLoader> compilers, const char* source, int major,
                                            int minor, const PtxLoader& load) {
    std::string reasons;
    std::string not_found = "NVRTC library not found: no candidate library name";
    std::set<std::string> tried;
    for (const NvrtcLoader& open : compilers) {
        // Each compiler library is closed as soon as its PTX text is out.
        const Result<NvrtcApi> nvrtc = open();
        if (!nvrtc) {
            not_found = nvrtc.error().message;
            continue;
        }
        if (const std::string path = nvrtc.value().library.path(); !path.empty() && !tried.insert(path).second)
            continue;
        const std::string label = compiler_label(nvrtc.value());
        auto pass_over = [&](const std::string& why) { reasons += (reasons.empty() ? "" : "; ") + label + ": " + why; };
        const auto target = choose_target(nvrtc.value(), major, minor);
        if (!target) {
            pass_over("builds for no architecture up to " + arch_text(major, minor));
            continue;
        }
        Result<std::string> ptx = compile_to_ptx(nvrtc.value(), source, target->first, target->second);
        if (!ptx) {
            pass_over(ptx.error().message);
            continue;
        }
        if (Status loaded = load(ptx.value()); !loaded) {
            pass_over(loaded.error().message);
            continue;
        }
        return BuiltKernel{std::move(ptx).value(), *target, label};
    }
    if (reasons.empty()) return runtime_error(not_found);
    return runtime_error("No installed NVRTC builds a kernel this device loads: " + reasons);
}

}  // namespace vornex
