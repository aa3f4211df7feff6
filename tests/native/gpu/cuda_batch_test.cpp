// The GPU decoder's construction, GPU sequence, fallback and mode machine,
// run against the in-process fake driver; loader texts on the real system.
#include "gpu/cuda_batch.h"

#include <gtest/gtest.h>

#include <array>

#include "gpu/fake_driver.h"
#include "gpu/kernel_layout.h"
#include "uf/uf_core.h"
#include "uf/uf_reference.h"

namespace vornex::testing {
namespace {

using Bytes = std::vector<uint8_t>;

bool starts_with(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

template <class T>
std::string error_of(const Result<T>& r) {
    EXPECT_FALSE(r.ok());
    if (r.ok()) return "";
    EXPECT_EQ(r.error().kind, ErrorKind::Runtime) << r.error().message;
    return r.error().message;
}

class CudaFakeTest : public ::testing::Test {
protected:
    void SetUp() override { reset_fake(); }
    void TearDown() override {
        // Whatever a test built is gone with it: no context, module or buffer.
        expect_device_released();
    }
    static CudaBatchDecoder make(CheckList checks, std::optional<size_t> n_qubits = std::nullopt) {
        auto d = CudaBatchDecoder::create_with(std::move(checks), n_qubits, fake_loaders());
        EXPECT_TRUE(d.ok()) << (d.ok() ? "" : d.error().message);
        return std::move(d).value();
    }
};

Bytes cpu_rows(const CheckGraph& g, const Bytes& rows, size_t batch) {
    Bytes out(batch * g.n_qubits);
    UfWorkspace ws;
    for (size_t i = 0; i < batch; ++i)
        decode_into(g, {rows.data() + i * g.n_checks, g.n_checks}, ws, {out.data() + i * g.n_qubits, g.n_qubits});
    return out;
}

TEST(CudaRuntime, LoaderFailureTexts) {
    const std::array<const char*, 1> missing = {"libvornex_absent_library.so"};
    EXPECT_TRUE(starts_with(load_cuda_driver_from(missing).error().message, "CUDA driver library not found: "));
    EXPECT_TRUE(starts_with(load_nvrtc_from(missing).error().message, "NVRTC library not found: "));
    // A library that opens but lacks the entry points: the first one is named.
    const std::array<const char*, 1> libc = {"libc.so.6"};
    EXPECT_TRUE(starts_with(load_cuda_driver_from(libc).error().message, "GPU runtime symbol cuInit: "));
    EXPECT_TRUE(starts_with(load_nvrtc_from(libc).error().message, "GPU runtime symbol nvrtcCreateProgram: "));
}

TEST(CudaRuntime, ResultCodeTexts) {
    const SharedDriver d = fake_driver_loader().value();
    EXPECT_TRUE(check_cu(*d, "cuInit", 0).ok());
    const Status oom = check_cu(*d, "cuCtxCreate", 2);
    EXPECT_EQ(oom.error().kind, ErrorKind::Runtime);
    EXPECT_EQ(oom.error().message, "cuCtxCreate failed: CUDA_ERROR_OUT_OF_MEMORY (out of memory)");
    EXPECT_EQ(check_cu(*d, "cuMemAlloc(edge_a)", 999).error().message,
              "cuMemAlloc(edge_a) failed: CUresult(999) (no driver error string)");
    EXPECT_EQ(nvrtc_error_text(fake_nvrtc_loader().value(), 7), "nvrtcResult(7)");
}

TEST(CudaRuntime, AvailabilityProbe) {
    reset_fake();
    EXPECT_TRUE(cuda_available_with(fake_driver_loader(), fake_nvrtc_loader()));
    EXPECT_FALSE(cuda_available_with(fake_driver_loader(), runtime_error("NVRTC library not found: x")));
    fake().device_count = 0;
    EXPECT_FALSE(cuda_available_with(fake_driver_loader(), fake_nvrtc_loader()));
    fake().device_count = 1;
    fake().init_result = 100;
    EXPECT_FALSE(cuda_available_with(fake_driver_loader(), fake_nvrtc_loader()));
    EXPECT_EQ(fake().primary_retains, 0);
    // This machine's answer agrees with whether its driver even loads.
    if (!load_cuda_driver().ok()) {
        EXPECT_FALSE(cuda_available());
    }
}

TEST(CudaBatchDecoderCreate, CodeChecksComeFirstInOrder) {
    auto text = [](CheckList checks, std::optional<size_t> n) {
        return error_of(CudaBatchDecoder::create(std::move(checks), n));
    };
    EXPECT_EQ(text({}, std::nullopt), "check_to_qubits must be non-empty");
    EXPECT_EQ(text({{0}, {}}, std::nullopt), "CUDA stabilizer checks must be non-empty");
    EXPECT_EQ(text({{0, 1}, {1, 2}}, 0), "n_qubits must be positive");
    EXPECT_EQ(text({{0, 1}, {1, 2}}, 2), "qubit index 2 is outside n_qubits=2");
    EXPECT_EQ(text({{0, 1}}, size_t{1} << 32), "CUDA qubit count exceeds u32 kernel limit");
    if (!load_cuda_driver().ok()) {
        EXPECT_TRUE(starts_with(text({{0, 1}}, std::nullopt), "CUDA driver library not found: "));
    }
}

TEST_F(CudaFakeTest, DriverFailuresReleaseEverything) {
    auto text = [](CheckList checks, GpuLoaders loaders = fake_loaders()) {
        return error_of(CudaBatchDecoder::create_with(std::move(checks), std::nullopt, loaders));
    };
    fake().device_count = 0;
    EXPECT_EQ(text({{0, 1}}), "No CUDA device found");
    fake().device_count = 1;
    fake().retain_result = 2;
    EXPECT_EQ(text({{0, 1}}), "cuDevicePrimaryCtxRetain failed: CUDA_ERROR_OUT_OF_MEMORY (out of memory)");
    fake().retain_result = 0;
    // The check graph is built after the context, which must not outlive it.
    EXPECT_TRUE(starts_with(text({{0, 1}, {0, 2}, {0, 3}}),
                            "UnionFindDecoder / FastUnionFindDecoder only support stabilizer codes"));
    EXPECT_EQ(fake().primary_retains, 0);
    // Second edge buffer fails: the first is freed and the module unloaded.
    fake().allocs = 0;
    fake().fail_alloc_number = 2;
    EXPECT_EQ(text({{0, 1}}), "cuMemAlloc(edge_b) failed: CUDA_ERROR_OUT_OF_MEMORY (out of memory)");
}

TEST_F(CudaFakeTest, ConstructionState) {
    fake().name = std::string("Card \xff", 6);
    {
        const CudaBatchDecoder d = make({{0, 1}, {1, 2}});
        EXPECT_EQ(d.n_qubits(), 3u);
        EXPECT_EQ(d.n_checks(), 2u);
        EXPECT_EQ(d.device_name(), "Card \xEF\xBF\xBD");
        EXPECT_EQ(d.compute_capability(), (std::pair<int, int>{8, 6}));
        EXPECT_EQ(fake().compile_options, (std::vector<std::string>{"--gpu-architecture=compute_86", "--std=c++17"}));
        EXPECT_EQ(fake().memory.size(), 3u);  // the three edge arrays
        EXPECT_EQ(d.degraded_reason(), std::nullopt);
        EXPECT_EQ(d.workspace_capacity(), 0u);
        EXPECT_FALSE(d.is_degraded());
        EXPECT_EQ(d.total_failures() + d.consecutive_failures() + d.gpu_recoveries(), 0u);
    }
}

// Teardown frees the edge arrays, then the workspace, and only then unloads
// the module and destroys the context.
TEST_F(CudaFakeTest, TeardownOrder) {
    {
        const CudaBatchDecoder d = make({{0, 1}, {1, 2}});
        ASSERT_TRUE(d.batch_decode(Bytes(8 * 2, 1), 8).ok());
        EXPECT_EQ(fake().allocs, 7);  // edge_a, edge_b, edge_q, then the four workspace buffers
    }
    EXPECT_EQ(fake().releases, (std::vector<std::string>{"free 1", "free 2", "free 3", "free 4", "free 5", "free 6",
                                                         "free 7", "unload", "release"}));
}

TEST_F(CudaFakeTest, GpuPathMatchesCpuAndWorkspaceOnlyGrows) {
    Wyrand rng(0x6770755f70617468ull);
    for (int round = 0; round < 60; ++round) {
        const TestCode code = random_code(rng);
        const CudaBatchDecoder d = make(code.checks, code.graph.n_qubits);
        uint64_t largest = 0;
        for (size_t batch : {size_t{8}, size_t{1 + rng.next_u64() % 300}, size_t{9}, size_t{129}}) {
            batch = std::max<size_t>(batch, 8);
            Bytes rows;
            for (size_t i = 0; i < batch; ++i) {
                const Bytes s = random_syndrome(rng, code.graph.n_checks, 0.2);
                rows.insert(rows.end(), s.begin(), s.end());
            }
            const int launches = fake().launches;
            const auto got = d.batch_decode(rows, batch);
            ASSERT_TRUE(got.ok());
            EXPECT_EQ(fake().launches, launches + 1);
            ASSERT_EQ(got.value(), cpu_rows(code.graph, rows, batch));
            largest = std::max<uint64_t>(largest, batch);
            EXPECT_EQ(d.workspace_capacity(), largest);
        }
        EXPECT_EQ(d.total_failures(), 0u);
    }
}

TEST_F(CudaFakeTest, FailingGpuDegradesRetriesAndRecovers) {
    const TestCode code = make_code({{0, 1}, {1, 2}, {2, 3}}, 4);
    const CudaBatchDecoder d = make(code.checks, 4);
    Wyrand rng(3);
    auto call = [&](size_t batch) {
        Bytes rows;
        for (size_t i = 0; i < batch; ++i) {
            const Bytes s = random_syndrome(rng, 3, 0.4);
            rows.insert(rows.end(), s.begin(), s.end());
        }
        const auto got = d.batch_decode(rows, batch);
        ASSERT_TRUE(got.ok());
        EXPECT_EQ(got.value(), cpu_rows(code.graph, rows, batch));
    };
    fake().launch_result = 719;
    // Small and empty batches never touch the device.
    call(3);
    call(0);
    EXPECT_EQ(fake().launches, 0);
    EXPECT_EQ(d.total_failures(), 0u);

    for (int i = 0; i < 3; ++i) call(8);
    EXPECT_EQ(d.consecutive_failures(), 3u);
    EXPECT_EQ(d.total_failures(), 3u);
    EXPECT_TRUE(d.is_degraded());
    EXPECT_EQ(fake().launches, 3);
    for (int i = 0; i < 9; ++i) call(i % 2 ? 2 : 20);  // batch size plays no part
    EXPECT_EQ(fake().launches, 3);
    call(2);  // tenth degraded call retries, even for a small batch
    EXPECT_EQ(fake().launches, 4);
    EXPECT_EQ(d.total_failures(), 4u);
    EXPECT_EQ(d.consecutive_failures(), 3u);
    EXPECT_TRUE(d.is_degraded());

    fake().launch_result = 0;
    for (int i = 0; i < 9; ++i) call(8);
    EXPECT_TRUE(d.is_degraded());
    call(8);
    EXPECT_FALSE(d.is_degraded());
    EXPECT_EQ(d.gpu_recoveries(), 1u);
    EXPECT_EQ(d.consecutive_failures(), 0u);
    EXPECT_EQ(d.total_failures(), 4u);

    fake().launch_result = 719;
    call(8);
    EXPECT_EQ(d.consecutive_failures(), 1u);
    d.reset();
    EXPECT_EQ(d.consecutive_failures() + d.total_failures(), 0u);
    EXPECT_FALSE(d.is_degraded());
    EXPECT_EQ(d.gpu_recoveries(), 1u);
    // A reset clears the degraded-call count too: three more failures
    // degrade again and the retry comes on the tenth call after that.
    for (int i = 0; i < 3; ++i) call(8);
    EXPECT_TRUE(d.is_degraded());
    const int launches = fake().launches;
    for (int i = 0; i < 10; ++i) call(8);
    EXPECT_EQ(fake().launches, launches + 1);
}

Bytes random_rows(Wyrand& rng, size_t n_checks, size_t batch) {
    Bytes rows;
    for (size_t i = 0; i < batch; ++i) {
        const Bytes s = random_syndrome(rng, n_checks, 0.3);
        rows.insert(rows.end(), s.begin(), s.end());
    }
    return rows;
}

// A batch larger than the device's free memory runs in chunks on two slots:
// same rows, one launch per chunk, no failure counted.
TEST_F(CudaFakeTest, BatchBeyondFreeMemoryRunsInChunks) {
    const TestCode code = make_code(rotated_sector_top_bottom(5), 25);
    const CudaBatchDecoder d = make(code.checks, 25);
    Wyrand rng(9);
    const size_t batch = 1000;
    const Bytes rows = random_rows(rng, code.graph.n_checks, batch);
    const size_t edges = 3 * 2 * code.graph.edges.size();
    // Room for about 200 shots besides the edge arrays.
    const uint64_t per_shot = 12 + 25 + 2 * scratch_words_per_shot(13, 25) + scratch_bytes_per_shot(13, 25);
    fake().memory_limit = edges + 200 * per_shot;
    const auto got = d.batch_decode(rows, batch);
    ASSERT_TRUE(got.ok());
    EXPECT_EQ(got.value(), cpu_rows(code.graph, rows, batch));
    EXPECT_EQ(d.total_failures(), 0u);
    // 90% of ~200 shots, halved for two slots and cut to whole warps: 64 per chunk.
    EXPECT_EQ(d.workspace_capacity(), 64u);
    EXPECT_EQ(fake().launches, 16);
}

// Distance 17 (16-bit indices) through every path of the decoder: one
// chunk, chunks on two slots, and after the context was reset.
TEST_F(CudaFakeTest, RotatedDistance17RowsEqualTheCoreOnEveryPath) {
    const TestCode code = make_code(rotated_sector_top_bottom(17), 289);
    const CudaBatchDecoder d = make(code.checks, 289);
    Wyrand rng(17);
    const size_t batch = 300;
    Bytes rows;
    for (size_t i = 0; i < batch; ++i) {
        const Bytes s = noisy_syndrome(rng, code.checks, 289, 0.06);
        rows.insert(rows.end(), s.begin(), s.end());
    }
    const Bytes want = cpu_rows(code.graph, rows, batch);
    EXPECT_EQ(d.gpu_attempt(rows, batch).value(), want);
    EXPECT_TRUE(d.gpu_attempt(rows, 8).ok());  // keeps the workspace
    fake().memory_limit = 3 * 2 * 289 + 100 * (144 + 289 + 2 * scratch_words_per_shot(145, 289) +
                                               scratch_bytes_per_shot(145, 289));
    fake().sync_result = 700;
    EXPECT_FALSE(d.batch_decode(rows, batch).value() != want);
    const int launches = fake().launches;
    EXPECT_EQ(d.gpu_attempt(rows, batch).value(), want);
    EXPECT_EQ(d.context_recreations(), 1u);
    EXPECT_EQ(fake().launches - launches, 10);  // 300 rows in chunks of 32 (room for 100 shots)
    EXPECT_EQ(d.total_failures(), 1u);
}

// An allocation that fails although the free memory looked enough (a
// fragmented device) makes the chunks smaller instead of failing the call.
TEST_F(CudaFakeTest, FailedAllocationShrinksTheChunks) {
    const TestCode code = make_code({{0, 1}, {1, 2}}, 3);
    const CudaBatchDecoder d = make(code.checks, 3);
    Wyrand rng(4);
    const Bytes rows = random_rows(rng, 2, 300);
    ASSERT_TRUE(d.batch_decode({rows.data(), 8 * 2}, 8).ok());
    EXPECT_EQ(d.workspace_capacity(), 8u);
    fake().fail_alloc_number = fake().allocs + 3;  // the index scratch of the regrown slot
    const int launches = fake().launches;
    const auto got = d.batch_decode(rows, 300);
    ASSERT_TRUE(got.ok());
    EXPECT_EQ(got.value(), cpu_rows(code.graph, rows, 300));
    EXPECT_EQ(d.total_failures(), 0u);
    EXPECT_EQ(d.workspace_capacity(), 128u);  // 300 halved, cut to whole warps
    EXPECT_EQ(fake().launches, launches + 3);
    // Not even one warp fits: that attempt fails.
    const CudaBatchDecoder other = make(code.checks, 3);
    fake().memory_limit = 1;
    EXPECT_EQ(error_of(other.gpu_attempt(rows, 300)),
              "cuMemAlloc(syndromes) failed: CUDA_ERROR_OUT_OF_MEMORY (out of memory)");
    EXPECT_EQ(other.workspace_capacity(), 0u);
    fake().memory_limit = 0;
    fake().launch_result = 719;
    EXPECT_EQ(error_of(d.gpu_attempt(rows, 8)),
              "cuLaunchKernel failed: CUDA_ERROR_LAUNCH_FAILED (unspecified launch failure)");
}

// The kernel text through the real compiler, where it is installed: a
// syntax slip in the text shows up here without a GPU.
class CudaNvrtc : public CudaFakeTest {
protected:
    void SetUp() override {
        CudaFakeTest::SetUp();
        if (!load_nvrtc().ok()) GTEST_SKIP() << "NVRTC not installed";
    }
};

TEST_F(CudaNvrtc, KernelTextCompilesToPtx) {
    const NvrtcApi nvrtc = load_nvrtc().value();
    const auto ptx = compile_to_ptx(nvrtc, cuda_kernel_source(), 8, 6);
    ASSERT_TRUE(ptx.ok()) << ptx.error().message;
    EXPECT_NE(ptx.value().find(".entry uf_decode_batch_cuda"), std::string::npos);
    EXPECT_EQ(nvrtc_error_text(nvrtc, 0), "NVRTC_SUCCESS");
}

TEST_F(CudaNvrtc, CompileFailureCarriesTheLog) {
    const NvrtcApi nvrtc = load_nvrtc().value();
    const std::string message = error_of(compile_to_ptx(nvrtc, "extern \"C\" __global__ void k() { oops; }", 8, 6));
    EXPECT_TRUE(starts_with(message, "nvrtcCompileProgram failed: NVRTC_ERROR_COMPILATION\n")) << message;
    EXPECT_NE(message.find("oops"), std::string::npos);
}

TEST_F(CudaNvrtc, ConstructionHandsRealPtxToTheDriver) {
    const TestCode code = make_code({{0, 1}, {1, 2}}, 3);
    auto d = CudaBatchDecoder::create_with(code.checks, 3, fake_driver_real_nvrtc());
    ASSERT_TRUE(d.ok()) << d.error().message;
    for (const char* entry : {"uf_decode_batch_cuda", "uf_decode_batch_lanes_u16", "uf_decode_batch_lanes_u32"})
        EXPECT_NE(fake().last_ptx.find(std::string(".entry ") + entry), std::string::npos) << entry;
    const Bytes rows = {1, 0, 0, 1, 1, 1, 0, 0, 1, 0, 0, 1, 1, 1, 0, 0};
    EXPECT_EQ(d.value().batch_decode(rows, 8).value(), cpu_rows(code.graph, rows, 8));
}

// The installed NVRTC, reached by several of its names, is tried once.
TEST_F(CudaNvrtc, InstalledReleaseIsTriedOncePerFile) {
    fake().major = 3;
    fake().minor = 0;
    const auto d = CudaBatchDecoder::create_with({{0, 1}}, std::nullopt, fake_driver_real_nvrtc());
    ASSERT_TRUE(d.ok());
    const std::string reason = d.value().degraded_reason().value();
    EXPECT_EQ(reason.rfind("No installed NVRTC builds a kernel this device loads: ", 0), 0u) << reason;
    EXPECT_EQ(reason.find("; "), std::string::npos) << reason;
    EXPECT_NE(reason.find("builds for no architecture up to compute_30"), std::string::npos) << reason;
}

}  // namespace
}  // namespace vornex::testing
