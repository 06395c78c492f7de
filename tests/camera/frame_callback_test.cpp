// KivCameraProviderCallback: what reaches the frame receiver, what never reaches the host camera,
// and how long the receiver lives.
#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "camera/camera_callback_wrapper.hpp"
#include "frame_receiver.hpp"
#include "kiv/fld/camera.hpp"
#include "kiv/runtime/runtime.hpp"
#include "support/text.hpp"
#include "support/thread_locale.hpp"

namespace kiv::fld {
namespace {

using kiv::fld::testing::RecordingReceiver;
using kiv::fld::testing::Units;
using kiv::runtime::New;
using kiv::runtime::PointerValue;
using kiv::runtime::Ref;

KivCameraProviderCallback CallbackFor(Ref<KivFldCommon::IKivCameraProviderCallback> receiver) {
    return KivCameraProviderCallback(std::make_shared<KivCameraProviderCallbackWrapper>(std::move(receiver)));
}

PointerValue AddressOf(const void* data) { return reinterpret_cast<PointerValue>(data); }

class FrameCallback : public ::testing::Test {
protected:
    Ref<RecordingReceiver> m_receiver = New<RecordingReceiver>();
    KivCameraProviderCallback m_callback = CallbackFor(m_receiver);
};

TEST_F(FrameCallback, CallbackWithAReceiverConvertsToTrue) { EXPECT_TRUE(m_callback); }

TEST_F(FrameCallback, CallbacksWithoutAReceiverConvertToFalseAndIgnoreCalls) {
    KivCameraProviderCallback movedFrom = CallbackFor(m_receiver);
    const KivCameraProviderCallback target = std::move(movedFrom);
    struct Case {
        const char* name;
        KivCameraProviderCallback callback;
    };
    Case cases[] = {
        {"default-constructed", KivCameraProviderCallback()},
        {"null wrapper", KivCameraProviderCallback(std::shared_ptr<KivCameraProviderCallbackWrapper>())},
        {"null receiver", CallbackFor(nullptr)},
        {"moved-from", std::move(movedFrom)},
    };
    unsigned char frame[4] = {1, 2, 3, 4};
    for (Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(c.callback);
        c.callback.HandleFrame(4, frame);
        c.callback.HandleFrame(0, nullptr);
        c.callback.HandleError("lens cap on");
        c.callback.HandleError("");
    }
    EXPECT_TRUE(target);
    EXPECT_TRUE(m_receiver->Frames().empty());
    EXPECT_TRUE(m_receiver->Errors().empty());
}

TEST_F(FrameCallback, HandleFramePassesLengthAndAddressUnchanged) {
    unsigned char frame[8] = {0xAB, 1, 2, 3, 4, 5, 6, 7};
    struct Case {
        const char* name;
        int length;
        void* data;
        int firstByte;
    };
    const Case cases[] = {
        {"zero length, null address", 0, nullptr, -1},
        {"negative length", -1, frame, 0xAB},
        {"smallest length", INT_MIN, frame, 0xAB},
        {"largest length", INT_MAX, frame, 0xAB},
        {"length not matching the buffer", 1234567, frame + 3, 3},
        {"null address with a length", 8, nullptr, -1},
    };
    for (const Case& c : cases) m_callback.HandleFrame(c.length, c.data);

    const auto frames = m_receiver->Frames();
    ASSERT_EQ(frames.size(), std::size(cases));
    for (std::size_t i = 0; i < frames.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(frames[i].length, cases[i].length);
        EXPECT_EQ(frames[i].data, AddressOf(cases[i].data));
        EXPECT_EQ(frames[i].firstByte, cases[i].firstByte);
    }
}

TEST_F(FrameCallback, HandleFrameHandsOverTheCamerasOwnBytesNotACopy) {
    std::vector<unsigned char> frame(640 * 480, 0x10);
    m_callback.HandleFrame(static_cast<int>(frame.size()), frame.data());
    frame[0] = 0x20;
    m_callback.HandleFrame(static_cast<int>(frame.size()), frame.data());
    const auto frames = m_receiver->Frames();
    ASSERT_EQ(frames.size(), 2u);
    for (const auto& received : frames) EXPECT_EQ(received.data, AddressOf(frame.data()));
    EXPECT_EQ(frames[0].firstByte, 0x10);
    EXPECT_EQ(frames[1].firstByte, 0x20) << "the receiver reads the camera's memory in place";
}

TEST_F(FrameCallback, RaisingReceiverNeverReachesTheCameraAndTheNextFrameArrives) {
    unsigned char frame[2] = {7, 8};
    m_receiver->raise = true;
    EXPECT_NO_THROW(m_callback.HandleFrame(2, frame));
    EXPECT_NO_THROW(m_callback.HandleError("sensor overheated"));
    m_receiver->raise = false;
    m_callback.HandleFrame(1, frame + 1);
    m_callback.HandleError("sensor cooled down");

    const auto frames = m_receiver->Frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].length, 1);
    EXPECT_EQ(frames[1].data, AddressOf(frame + 1));
    const auto errors = m_receiver->Errors();
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(Units(errors[1]), u"sensor cooled down");
    EXPECT_TRUE(m_callback);
}

TEST_F(FrameCallback, HandleErrorConvertsFromTheThreadCodePage) {
    struct Case {
        const char* locale;
        std::string message;
        std::u16string expected;
    };
    const Case cases[] = {
        {kiv::fld::testing::kUtf8Locale,
         "Kamera \xC3\xBC"
         "berhitzt",
         u"Kamera \u00FC"
         u"berhitzt"},
        {kiv::fld::testing::kLatin1Locale,
         "Kamera \xFC"
         "berhitzt",
         u"Kamera \u00FC"
         u"berhitzt"},
        {kiv::fld::testing::kGbkLocale, "\xCF\xE0\xBB\xFA", u"\u76F8\u673A"},
        {kiv::fld::testing::kEucJpLocale, "\xA5\xAB\xA5\xE1\xA5\xE9", u"\u30AB\u30E1\u30E9"},
        {kiv::fld::testing::kLatin1Locale, std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
    };
    for (const Case& c : cases) {
        const kiv::fld::testing::ScopedThreadLocale locale(c.locale);
        m_callback.HandleError(c.message);
    }
    const auto errors = m_receiver->Errors();
    ASSERT_EQ(errors.size(), std::size(cases));
    for (std::size_t i = 0; i < errors.size(); ++i) {
        SCOPED_TRACE(cases[i].locale);
        EXPECT_EQ(Units(errors[i]), cases[i].expected);
    }
}

TEST_F(FrameCallback, HandleErrorWithAnEmptyMessagePassesAnEmptyTextNeverNull) {
    m_callback.HandleError("");
    const auto errors = m_receiver->Errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_FALSE(errors[0].IsNull());
    EXPECT_EQ(errors[0].Length(), 0);
}

TEST_F(FrameCallback, HandleErrorWhoseConversionFailsCallsNothingAndRaisesNothing) {
    kiv::runtime::testing::FailNextAllocation();
    EXPECT_NO_THROW(m_callback.HandleError("no memory for this text"));
    EXPECT_FALSE(kiv::runtime::testing::AllocationFailurePending()) << "the conversion did not allocate";
    EXPECT_TRUE(m_receiver->Errors().empty());
    m_callback.HandleError("the next one");
    ASSERT_EQ(m_receiver->Errors().size(), 1u);
    EXPECT_EQ(Units(m_receiver->Errors()[0]), u"the next one");
}

TEST(FrameCallbackLifetime, CopiesKeepTheReceiverAliveUntilTheLastIsGone) {
    std::atomic<int> destroyed{0};
    Ref<RecordingReceiver> receiver = New<RecordingReceiver>(&destroyed);
    RecordingReceiver* const raw = receiver.Get();
    auto first = std::make_unique<KivCameraProviderCallback>(CallbackFor(std::move(receiver)));
    KivCameraProviderCallback copy = *first;
    first.reset();
    EXPECT_EQ(destroyed, 0) << "a copy still stands for the receiver";
    unsigned char frame[1] = {5};
    copy.HandleFrame(1, frame);
    EXPECT_EQ(raw->Frames().size(), 1u);
    KivCameraProviderCallback assigned;
    assigned = copy;
    copy = KivCameraProviderCallback();
    EXPECT_FALSE(copy);
    EXPECT_EQ(destroyed, 0);
    assigned = KivCameraProviderCallback();
    EXPECT_EQ(destroyed, 1) << "the last copy released the receiver";
}

TEST(FrameCallbackConcurrency, FramesFromSeveralCameraThreadsAllArrive) {
    constexpr int kThreads = 4;
    constexpr int kFramesPerThread = 2000;
    Ref<RecordingReceiver> receiver = New<RecordingReceiver>();
    receiver->recordFrames = false;
    const KivCameraProviderCallback callback = CallbackFor(receiver);
    unsigned char frame[16] = {};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        // Each camera thread works on its own copy, the copies share one wrapper.
        threads.emplace_back([copy = callback, &frame]() mutable {
            for (int i = 0; i < kFramesPerThread; ++i) copy.HandleFrame(static_cast<int>(sizeof frame), frame);
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(receiver->frameCount, kThreads * kFramesPerThread);
}

}  // namespace
}  // namespace kiv::fld
