// Context hygiene on the stand-in driver: the primary context is shared and
// released, the caller's current context survives every call, and a sticky
// error leads to a reset context on the next attempt.
#include <gtest/gtest.h>

#include "gpu/cuda_batch.h"
#include "gpu/fake_driver.h"
#include "uf/uf_core.h"
#include "uf/uf_reference.h"

namespace vornex::testing {
namespace {

using Bytes = std::vector<uint8_t>;

const CUcontext kCallersContext = reinterpret_cast<CUcontext>(0x9000);

class CudaContext : public ::testing::Test {
protected:
    void SetUp() override {
        reset_fake();
        fake_set_current_context(kCallersContext);
    }
    void TearDown() override {
        expect_device_released();
        EXPECT_EQ(fake_current_context(), kCallersContext);
    }

    const TestCode code = make_code({{0, 1}, {1, 2}, {2, 3}, {3, 4}}, 5);
    Wyrand rng{17};

    CudaBatchDecoder make() {
        auto d = CudaBatchDecoder::create_with(code.checks, 5, fake_loaders());
        EXPECT_TRUE(d.ok()) << (d.ok() ? "" : d.error().message);
        return std::move(d).value();
    }
    // One batch through the decoder: always the core's rows, whatever the device did.
    void call(const CudaBatchDecoder& d, size_t batch = 16) {
        Bytes rows, want(batch * 5);
        for (size_t i = 0; i < batch; ++i) {
            const Bytes s = random_syndrome(rng, 4, 0.4);
            rows.insert(rows.end(), s.begin(), s.end());
        }
        UfWorkspace ws;
        for (size_t i = 0; i < batch; ++i) decode_into(code.graph, {rows.data() + i * 4, 4}, ws, {want.data() + i * 5, 5});
        const auto got = d.batch_decode(rows, batch);
        ASSERT_TRUE(got.ok());
        EXPECT_EQ(got.value(), want);
        EXPECT_EQ(fake_current_context(), kCallersContext);
    }
};

TEST_F(CudaContext, PrimaryContextIsRetainedOnceAndCallersContextRestored) {
    {
        const CudaBatchDecoder d = make();
        EXPECT_EQ(fake_current_context(), kCallersContext);
        EXPECT_EQ(fake().primary_retains, 1);
        call(d);
        call(d, 3);  // CPU only
        EXPECT_EQ(fake().launches, 1);
    }
    // A caller with no context current gets none back, not ours.
    fake_set_current_context(nullptr);
    {
        const CudaBatchDecoder d = make();
        EXPECT_EQ(fake_current_context(), nullptr);
        const Bytes rows(8 * 4, 1);
        ASSERT_TRUE(d.batch_decode(rows, 8).ok());
        EXPECT_EQ(fake_current_context(), nullptr);
    }
    EXPECT_EQ(fake_current_context(), nullptr);
    fake_set_current_context(kCallersContext);
}

TEST_F(CudaContext, FailedConstructionReleasesThePrimaryContext) {
    fake().fail_alloc_number = 2;
    const auto d = CudaBatchDecoder::create_with(code.checks, 5, fake_loaders());
    EXPECT_EQ(d.error().message, "cuMemAlloc(edge_b) failed: CUDA_ERROR_OUT_OF_MEMORY (out of memory)");
    EXPECT_EQ(fake().releases, (std::vector<std::string>{"free 1", "unload", "release"}));
}

TEST_F(CudaContext, AsynchronousErrorAtSynchronisationRecreatesTheContext) {
    const CudaBatchDecoder d = make();
    call(d);
    const CUcontext first = fake_primary_context();
    fake().sync_result = 700;  // an illegal address found when the launch is waited for
    call(d);
    EXPECT_EQ(d.total_failures(), 1u);
    EXPECT_EQ(d.consecutive_failures(), 1u);
    EXPECT_EQ(d.context_recreations(), 0u);
    EXPECT_EQ(d.degraded_reason(), std::nullopt);
    // The next attempt resets the context, makes module and edges again and runs.
    const int launches = fake().launches;
    call(d);
    EXPECT_EQ(fake().primary_resets, 1);
    EXPECT_EQ(d.context_recreations(), 1u);
    EXPECT_NE(fake_primary_context(), first);
    EXPECT_EQ(fake().launches, launches + 1);
    EXPECT_EQ(d.consecutive_failures(), 0u);
    EXPECT_EQ(fake().primary_retains, 1);
    EXPECT_EQ(fake().live_modules, 1);
}

TEST_F(CudaContext, StickyErrorDegradesUntilTheResetSucceeds) {
    const CudaBatchDecoder d = make();
    fake().launch_result = 719;
    call(d);
    fake().launch_result = 0;
    // The sticky error stands and the reset itself fails twice: those
    // attempts fail too, degrade the decoder and say why.
    fake().reset_result = 999;
    call(d);
    call(d);
    EXPECT_TRUE(d.is_degraded());
    EXPECT_EQ(d.total_failures(), 3u);
    EXPECT_EQ(d.degraded_reason(), "cuDevicePrimaryCtxReset failed: CUresult(999) (no driver error string)");
    EXPECT_EQ(fake().primary_retains, 0);  // released before the reset was tried
    fake().reset_result = 0;
    for (int i = 0; i < 10; ++i) call(d);
    EXPECT_FALSE(d.is_degraded());
    EXPECT_EQ(d.gpu_recoveries(), 1u);
    EXPECT_EQ(d.context_recreations(), 1u);
    EXPECT_EQ(fake().primary_retains, 1);
    call(d);
    EXPECT_EQ(d.total_failures(), 3u);
}

}  // namespace
}  // namespace vornex::testing
