// The per-frame path allocates nothing: this program replaces the global allocation functions with
// counting ones and delivers a burst of frames between two readings.
#include <gtest/gtest.h>

#include <memory>

#include "camera/camera_callback_wrapper.hpp"
#include "frame_receiver.hpp"
#include "kiv/fld/camera.hpp"
#include "kiv/runtime/runtime.hpp"
#include "support/counting_allocator.hpp"

namespace kiv::fld {
namespace {

using kiv::fld::testing::RecordingReceiver;

TEST(FramePathAllocation, CountingAllocatorSeesAnAllocationWhenOneHappens) {
    const std::size_t before = kiv::fld::testing::ThreadNewCalls();
    auto probe = std::make_unique<int>(42);
    EXPECT_EQ(kiv::fld::testing::ThreadNewCalls(), before + 1)
        << "the replacement is not in effect, so the next test would prove nothing";
    EXPECT_EQ(*probe, 42);
}

TEST(FramePathAllocation, ABurstOfFramesAllocatesNothing) {
    constexpr int kFrames = 10000;
    const kiv::runtime::Ref<RecordingReceiver> receiver = kiv::runtime::New<RecordingReceiver>();
    receiver->recordFrames = false;
    KivCameraProviderCallback callback(std::make_shared<KivCameraProviderCallbackWrapper>(receiver));
    KivCameraProviderCallback empty(std::make_shared<KivCameraProviderCallbackWrapper>(nullptr));
    static unsigned char frame[1920 * 1080 * 2];

    const std::size_t newsBefore = kiv::fld::testing::ThreadNewCalls();
    const std::size_t deletesBefore = kiv::fld::testing::ThreadDeleteCalls();
    const std::uint64_t runtimeBefore = kiv::runtime::ThreadAllocationCount();
    for (int i = 0; i < kFrames; ++i) {
        callback.HandleFrame(static_cast<int>(sizeof frame), frame);
        empty.HandleFrame(static_cast<int>(sizeof frame), frame);
    }
    const std::size_t news = kiv::fld::testing::ThreadNewCalls() - newsBefore;
    const std::size_t deletes = kiv::fld::testing::ThreadDeleteCalls() - deletesBefore;
    const std::uint64_t runtimeAllocations = kiv::runtime::ThreadAllocationCount() - runtimeBefore;

    EXPECT_EQ(receiver->frameCount, kFrames);
    EXPECT_EQ(news, 0u);
    EXPECT_EQ(deletes, 0u);
    EXPECT_EQ(runtimeAllocations, 0u);
}

}  // namespace
}  // namespace kiv::fld
