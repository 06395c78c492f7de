// The per-frame path allocates nothing: this program replaces the global allocation functions with
// counting ones and delivers a burst of frames between two readings.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <new>

#include "camera/camera_callback_wrapper.hpp"
#include "frame_receiver.hpp"
#include "kiv/fld/camera.hpp"
#include "kiv/runtime/runtime.hpp"

namespace {

// Per thread, so that other threads (the runtime's finalizer among them) cannot disturb a reading.
thread_local std::size_t t_newCalls = 0;
thread_local std::size_t t_deleteCalls = 0;

void* CountedAllocate(std::size_t size) {
    ++t_newCalls;
    if (void* memory = std::malloc(size == 0 ? 1 : size)) return memory;
    throw std::bad_alloc();
}

void CountedFree(void* memory) noexcept {
    if (!memory) return;
    ++t_deleteCalls;
    std::free(memory);
}

}  // namespace

void* operator new(std::size_t size) { return CountedAllocate(size); }
void* operator new[](std::size_t size) { return CountedAllocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return CountedAllocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    try {
        return CountedAllocate(size);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* memory) noexcept { CountedFree(memory); }
void operator delete[](void* memory) noexcept { CountedFree(memory); }
void operator delete(void* memory, std::size_t) noexcept { CountedFree(memory); }
void operator delete[](void* memory, std::size_t) noexcept { CountedFree(memory); }

namespace kiv::fld {
namespace {

using kiv::fld::testing::RecordingReceiver;

TEST(FramePathAllocation, CountingAllocatorSeesAnAllocationWhenOneHappens) {
    const std::size_t before = t_newCalls;
    auto probe = std::make_unique<int>(42);
    EXPECT_EQ(t_newCalls, before + 1) << "the replacement is not in effect, so the next test would prove nothing";
    EXPECT_EQ(*probe, 42);
}

TEST(FramePathAllocation, ABurstOfFramesAllocatesNothing) {
    constexpr int kFrames = 10000;
    const kiv::runtime::Ref<RecordingReceiver> receiver = kiv::runtime::New<RecordingReceiver>();
    receiver->recordFrames = false;
    KivCameraProviderCallback callback(std::make_shared<KivCameraProviderCallbackWrapper>(receiver));
    KivCameraProviderCallback empty(std::make_shared<KivCameraProviderCallbackWrapper>(nullptr));
    static unsigned char frame[1920 * 1080 * 2];

    const std::size_t newsBefore = t_newCalls;
    const std::size_t deletesBefore = t_deleteCalls;
    const std::uint64_t runtimeBefore = kiv::runtime::ThreadAllocationCount();
    for (int i = 0; i < kFrames; ++i) {
        callback.HandleFrame(static_cast<int>(sizeof frame), frame);
        empty.HandleFrame(static_cast<int>(sizeof frame), frame);
    }
    const std::size_t news = t_newCalls - newsBefore;
    const std::size_t deletes = t_deleteCalls - deletesBefore;
    const std::uint64_t runtimeAllocations = kiv::runtime::ThreadAllocationCount() - runtimeBefore;

    EXPECT_EQ(receiver->frameCount, kFrames);
    EXPECT_EQ(news, 0u);
    EXPECT_EQ(deletes, 0u);
    EXPECT_EQ(runtimeAllocations, 0u);
}

}  // namespace
}  // namespace kiv::fld
