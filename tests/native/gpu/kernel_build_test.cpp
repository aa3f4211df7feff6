// Choosing the compiler and the target for the device, on the stand-in
// driver with stand-in compiler releases.
#include "gpu/kernel_build.h"

#include <gtest/gtest.h>

#include "gpu/cuda_batch.h"
#include "gpu/fake_driver.h"
#include "uf/uf_core.h"
#include "uf/uf_reference.h"

namespace vornex::testing {
namespace {

using Bytes = std::vector<uint8_t>;

FakeCompiler release(std::string name, int major, int minor, std::vector<int> archs, int ptx_isa) {
    FakeCompiler c;
    c.name = std::move(name);
    c.major = major;
    c.minor = minor;
    c.archs = std::move(archs);
    c.ptx_isa = ptx_isa;
    return c;
}

// 13.0 builds nothing below compute_75; 12.4 builds compute_50 to compute_90;
// 11.2 (ISA 7.2) builds compute_35 to compute_86.
const FakeCompiler kNvrtc13 = FakeCompiler{};
const FakeCompiler kNvrtc12 = release("fake-nvrtc-12", 12, 4, {50, 52, 53, 60, 61, 62, 70, 72, 75, 80, 86, 87, 89, 90}, 84);
const FakeCompiler kNvrtc11 = release("fake-nvrtc-11", 11, 2, {35, 37, 50, 52, 53, 60, 61, 62, 70, 72, 75, 80, 86}, 72);

class KernelBuild : public ::testing::Test {
protected:
    void SetUp() override { reset_fake(); }
    void TearDown() override {
        expect_device_released();
    }

    // A decoder on the stand-in device; its GPU rows must equal the core's.
    static void expect_decodes_like_the_core(const CudaBatchDecoder& d) {
        const TestCode code = make_code({{0, 1}, {1, 2}, {2, 3}}, 4);
        Wyrand rng(11);
        Bytes rows;
        for (int i = 0; i < 40; ++i) {
            const Bytes s = random_syndrome(rng, 3, 0.4);
            rows.insert(rows.end(), s.begin(), s.end());
        }
        const auto got = d.batch_decode(rows, 40);
        ASSERT_TRUE(got.ok());
        Bytes want(40 * 4);
        UfWorkspace ws;
        for (size_t i = 0; i < 40; ++i) decode_into(code.graph, {rows.data() + i * 3, 3}, ws, {want.data() + i * 4, 4});
        EXPECT_EQ(got.value(), want);
    }

    static Result<CudaBatchDecoder> make() {
        return CudaBatchDecoder::create_with({{0, 1}, {1, 2}, {2, 3}}, 4, fake_loaders());
    }
};

TEST_F(KernelBuild, OldDeviceFallsToTheNewestReleaseThatBuildsForIt) {
    fake().compilers = {kNvrtc13, kNvrtc12, kNvrtc11};
    for (auto [major, minor, used] : {std::tuple{7, 0, "fake-nvrtc-12"}, std::tuple{6, 0, "fake-nvrtc-12"},
                                      std::tuple{3, 7, "fake-nvrtc-11"}, std::tuple{8, 6, "fake-nvrtc-13"}}) {
        fake().major = major;
        fake().minor = minor;
        fake().launches = 0;
        fake().compilers_opened.clear();
        const auto d = make();
        ASSERT_TRUE(d.ok()) << d.error().message;
        EXPECT_EQ(fake().compilers_opened.back(), used) << major << "." << minor;
        const std::string arch = "--gpu-architecture=compute_" + std::to_string(major) + std::to_string(minor);
        EXPECT_EQ(fake().compile_options, (std::vector<std::string>{arch, "--std=c++17"}));
        EXPECT_FALSE(d.value().is_degraded());
        expect_decodes_like_the_core(d.value());
        EXPECT_EQ(fake().launches, 1);
    }
}

TEST_F(KernelBuild, ReleaseThatCannotListItsArchitecturesIsAskedByCompiling) {
    // The newest release rejects compute_70 at compilation; the next builds it.
    FakeCompiler silent = kNvrtc13;
    silent.lists_archs = false;
    fake().compilers = {silent, kNvrtc12};
    fake().major = 7;
    fake().minor = 0;
    const auto d = make();
    ASSERT_TRUE(d.ok()) << d.error().message;
    EXPECT_EQ(fake().compilers_opened, (std::vector<std::string>{"fake-nvrtc-13", "fake-nvrtc-12"}));
    expect_decodes_like_the_core(d.value());
}

TEST_F(KernelBuild, PtxNewerThanTheDriverGoesToAnOlderRelease) {
    fake().compilers = {kNvrtc13, kNvrtc12};
    fake().driver_ptx_isa = 85;  // a 12.x driver cannot load ISA 9.0
    const auto d = make();
    ASSERT_TRUE(d.ok()) << d.error().message;
    EXPECT_EQ(fake().compilers_opened, (std::vector<std::string>{"fake-nvrtc-13", "fake-nvrtc-12"}));
    EXPECT_EQ(fake().last_ptx.rfind(".version 8.4", 0), 0u);
    expect_decodes_like_the_core(d.value());
}

TEST_F(KernelBuild, DeviceNewerThanEveryReleaseGetsTheNewestTargetBelowIt) {
    fake().compilers = {kNvrtc12};
    fake().major = 12;
    fake().minor = 0;
    const auto d = make();
    ASSERT_TRUE(d.ok()) << d.error().message;
    EXPECT_EQ(fake().compile_options[0], "--gpu-architecture=compute_90");
    EXPECT_EQ(d.value().compute_capability(), (std::pair<int, int>{12, 0}));
    expect_decodes_like_the_core(d.value());
}

TEST_F(KernelBuild, NoUsableReleaseLeavesADegradedCpuDecoder) {
    fake().compilers = {kNvrtc13, kNvrtc13};  // every release that opened is named
    fake().major = 6;
    fake().minor = 0;
    fake().name = "Tesla P100";
    const auto d = make();
    ASSERT_TRUE(d.ok()) << d.error().message;
    const CudaBatchDecoder& dec = d.value();
    EXPECT_TRUE(dec.is_degraded());
    EXPECT_FALSE(dec.has_kernel());
    const std::string reason =
        "No installed NVRTC builds a kernel this device loads: fake-nvrtc-13 (13.0): builds for no architecture "
        "up to compute_60";
    EXPECT_EQ(dec.degraded_reason(), std::string(reason + "; " + reason.substr(reason.find("fake"))));
    EXPECT_EQ(dec.device_name(), "Tesla P100");
    EXPECT_EQ(dec.compute_capability(), (std::pair<int, int>{6, 0}));
    // Nothing is held on the device, and no batch ever goes there.
    EXPECT_EQ(fake().primary_retains, 0);
    expect_decodes_like_the_core(dec);
    expect_decodes_like_the_core(dec);
    EXPECT_EQ(fake().launches, 0);
    EXPECT_EQ(dec.total_failures() + dec.consecutive_failures(), 0u);
    dec.reset();
    EXPECT_TRUE(dec.is_degraded());

    // The compile failure's own text is kept when a release refuses late.
    FakeCompiler silent = kNvrtc13;
    silent.lists_archs = false;
    fake().compilers = {silent};
    EXPECT_EQ(make().value().degraded_reason(),
              "No installed NVRTC builds a kernel this device loads: fake-nvrtc-13 (13.0): nvrtcCompileProgram "
              "failed: NVRTC_ERROR_INVALID_OPTION\nnvrtc: error: invalid value for --gpu-architecture (-arch)\n");
}

TEST_F(KernelBuild, NoCompilerInstalledIsTheLoadersText) {
    GpuLoaders loaders{fake_driver_loader,
                       {[] { return Result<NvrtcApi>(runtime_error("NVRTC library not found: gone")); }}};
    const auto d = CudaBatchDecoder::create_with({{0, 1}}, std::nullopt, loaders);
    ASSERT_TRUE(d.ok());
    EXPECT_EQ(d.value().degraded_reason(), "NVRTC library not found: gone");
    EXPECT_TRUE(d.value().is_degraded());
}

TEST(KernelTarget, ChoiceFromTheListedArchitectures) {
    reset_fake();
    fake().compilers = {kNvrtc12};
    const NvrtcApi nvrtc = fake_nvrtc_loader().value();
    EXPECT_EQ(choose_target(nvrtc, 8, 6), (std::pair{8, 6}));
    EXPECT_EQ(choose_target(nvrtc, 8, 8), (std::pair{8, 7}));  // not listed: the newest below
    EXPECT_EQ(choose_target(nvrtc, 10, 0), (std::pair{9, 0}));
    EXPECT_EQ(choose_target(nvrtc, 3, 5), std::nullopt);
    NvrtcApi silent = fake_nvrtc_loader().value();
    silent.nvrtcGetSupportedArchs = nullptr;
    EXPECT_EQ(choose_target(silent, 3, 5), (std::pair{3, 5}));
}

}  // namespace
}  // namespace vornex::testing
