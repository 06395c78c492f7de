// KivCameraProvider: what the host camera receives from the hosted UI's calls, and when, where and
// how often the host camera is deleted, also while calls run on other threads.
#include "camera/camera_provider.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "KivFldCommon/IKivCameraProvider.hpp"
#include "camera/camera_callback_wrapper.hpp"
#include "frame_receiver.hpp"
#include "kiv/fld/camera.hpp"
#include "kiv/runtime/runtime.hpp"
#include "support/host_doubles.hpp"

namespace kiv::fld {
namespace {

using kiv::fld::testing::CameraLog;
using kiv::fld::testing::Gate;
using kiv::fld::testing::RecordingCamera;
using kiv::fld::testing::RecordingReceiver;
using kiv::runtime::New;
using kiv::runtime::Ref;
using CameraContract = KivFldCommon::IKivCameraProvider;

Ref<CameraContract> AdapterOver(CameraLog& log) {
    return New<KivCameraProvider>(std::make_unique<RecordingCamera>(log));
}

// The component side finds the release through the runtime's IDisposable, as a hosted UI does.
void Dispose(const Ref<CameraContract>& adapter) { adapter.Cast<kiv::runtime::IDisposable>()->Dispose(); }

// Reads the wrapper a callback shares, through the handle's protected member.
struct WrapperPeek : KivCameraProviderCallback {
    static const KivCameraProviderCallbackWrapper* Of(const KivCameraProviderCallback& callback) {
        return (callback.*(&WrapperPeek::m_wrapper)).get();
    }
};
const KivCameraProviderCallbackWrapper* WrapperOf(const KivCameraProviderCallback& callback) {
    return WrapperPeek::Of(callback);
}

struct Operation {
    const char* name;
    std::function<void(CameraContract&)> call;
};

void PrintTo(const Operation& operation, std::ostream* os) { *os << operation.name; }

// Every camera operation of the component interface, as a hosted UI calls it.
std::vector<Operation> CameraOperations() {
    return {
        {"StartCapturingFrames", [](CameraContract& camera) { camera.StartCapturingFrames(nullptr, 40); }},
        {"StopCapturingFrames", [](CameraContract& camera) { camera.StopCapturingFrames(); }},
        {"GetNumberOfCameras", [](CameraContract& camera) { static_cast<void>(camera.GetNumberOfCameras()); }},
        {"SwitchCamera", [](CameraContract& camera) { camera.SwitchCamera(); }},
    };
}

class CameraAdapter : public ::testing::Test {
protected:
    ~CameraAdapter() override {
        // The host camera reports into m_log: let every adapter end before the log does.
        m_adapter.Reset();
        kiv::runtime::CollectAndWaitForPendingFinalizers();
    }

    CameraLog m_log;
    Ref<CameraContract> m_adapter = AdapterOver(m_log);
};

TEST_F(CameraAdapter, StartCapturingFramesHandsTheCameraACallbackForTheReceiverAndTheInterval) {
    const Ref<RecordingReceiver> receiver = New<RecordingReceiver>();
    const std::int32_t intervals[] = {33, 0, -1, INT32_MIN, INT32_MAX};
    for (const std::int32_t interval : intervals) m_adapter->StartCapturingFrames(receiver, interval);

    ASSERT_EQ(m_log.intervals.size(), std::size(intervals));
    ASSERT_EQ(m_log.callbacks.size(), std::size(intervals));
    unsigned char frame[3] = {9, 8, 7};
    for (std::size_t i = 0; i < std::size(intervals); ++i) {
        SCOPED_TRACE(intervals[i]);
        EXPECT_EQ(m_log.intervals[i], intervals[i]);
        ASSERT_TRUE(m_log.callbacks[i]);
        EXPECT_TRUE(*m_log.callbacks[i]);
        m_log.callbacks[i]->HandleFrame(static_cast<int>(i), frame);
        ASSERT_EQ(receiver->Frames().size(), i + 1) << "the callback forwards to the named receiver";
        EXPECT_EQ(receiver->Frames()[i].length, static_cast<std::int32_t>(i));
    }
}

TEST_F(CameraAdapter, StartCapturingFramesWithoutAReceiverStillCallsTheCamera) {
    m_adapter->StartCapturingFrames(nullptr, 100);
    EXPECT_EQ(m_log.Calls(), std::vector<std::string>{"StartCapturingFrames"});
    ASSERT_EQ(m_log.callbacks.size(), 1u);
    ASSERT_TRUE(m_log.callbacks[0]);
    EXPECT_FALSE(*m_log.callbacks[0]);
    EXPECT_EQ(m_log.intervals, std::vector<int>{100});
}

TEST_F(CameraAdapter, EveryStartGivesADistinctCallbackWithAWrapperOfItsOwn) {
    std::atomic<int> receiverDestroyed{0};
    Ref<RecordingReceiver> receiver = New<RecordingReceiver>(&receiverDestroyed);
    m_adapter->StartCapturingFrames(receiver, 10);
    m_adapter->StartCapturingFrames(receiver, 10);
    receiver.Reset();
    ASSERT_EQ(m_log.callbacks.size(), 2u);
    EXPECT_NE(m_log.callbacks[0].get(), m_log.callbacks[1].get());
    EXPECT_NE(WrapperOf(*m_log.callbacks[0]), WrapperOf(*m_log.callbacks[1]));

    m_log.callbacks[0].reset();
    EXPECT_TRUE(*m_log.callbacks[1]) << "destroying one callback leaves the other valid";
    EXPECT_EQ(receiverDestroyed, 0);
    m_log.callbacks[1].reset();
    EXPECT_EQ(receiverDestroyed, 1) << "each callback held a reference of its own";
}

TEST(CameraAdapterResults, FalseFromTheCameraMakesNoDifferenceToTheHostedUi) {
    for (const bool result : {true, false}) {
        SCOPED_TRACE(result);
        CameraLog log;
        log.result = result;
        Ref<CameraContract> adapter = AdapterOver(log);
        EXPECT_NO_THROW(adapter->StartCapturingFrames(nullptr, 1));
        EXPECT_NO_THROW(adapter->StopCapturingFrames());
        EXPECT_NO_THROW(adapter->SwitchCamera());
        EXPECT_NO_THROW(adapter->SwitchCamera());
        EXPECT_EQ(log.Calls(), (std::vector<std::string>{"StartCapturingFrames", "StopCapturingFrames", "SwitchCamera",
                                                         "SwitchCamera"}));
        Dispose(adapter);
        EXPECT_EQ(log.deletion.Deletions(), 1);
    }
}

TEST(CameraAdapterResults, GetNumberOfCamerasReturnsTheCamerasCountUnchanged) {
    for (const int count : {0, 1, 3, -1, INT_MIN, INT_MAX}) {
        SCOPED_TRACE(count);
        CameraLog log;
        log.numberOfCameras = count;
        Ref<CameraContract> adapter = AdapterOver(log);
        EXPECT_EQ(adapter->GetNumberOfCameras(), count);
        Dispose(adapter);
    }
}

TEST_F(CameraAdapter, CameraExceptionsReachTheHostedUiAndLeaveTheAdapterWorking) {
    m_log.raise = "camera unplugged";
    for (const Operation& operation : CameraOperations()) {
        SCOPED_TRACE(operation.name);
        try {
            operation.call(*m_adapter);
            ADD_FAILURE() << "the camera's exception did not arrive";
        } catch (const std::runtime_error& error) {
            EXPECT_EQ(std::string(error.what()), "camera unplugged");
        }
    }
    m_log.raise.clear();
    m_log.numberOfCameras = 2;
    EXPECT_EQ(m_adapter->GetNumberOfCameras(), 2);
    Dispose(m_adapter);
    EXPECT_EQ(m_log.deletion.Deletions(), 1) << "no call counted as running any more";
    EXPECT_EQ(m_log.deletion.CallsInProgressAtDeletion(), 0);
}

TEST_F(CameraAdapter, DisposeTwiceDeletesTheCameraOnceOnTheDisposingThread) {
    Dispose(m_adapter);
    EXPECT_EQ(m_log.deletion.Deletions(), 1);
    EXPECT_EQ(m_log.deletion.Thread(), std::this_thread::get_id());
    EXPECT_FALSE(m_log.deletion.OnFinalizerThread());
    Dispose(m_adapter);
    EXPECT_EQ(m_log.deletion.Deletions(), 1);
}

TEST_F(CameraAdapter, ReclaimingADisposedAdapterDeletesNothingMore) {
    Dispose(m_adapter);
    m_adapter.Reset();
    kiv::runtime::CollectAndWaitForPendingFinalizers();
    EXPECT_EQ(m_log.deletion.Deletions(), 1);
    EXPECT_FALSE(m_log.deletion.OnFinalizerThread());
}

TEST_F(CameraAdapter, AnAdapterNeverReleasedDeletesTheCameraOnTheFinalizerThread) {
    m_adapter->SwitchCamera();
    m_adapter.Reset();
    kiv::runtime::CollectAndWaitForPendingFinalizers();
    EXPECT_EQ(m_log.deletion.Deletions(), 1);
    EXPECT_TRUE(m_log.deletion.OnFinalizerThread());
    EXPECT_NE(m_log.deletion.Thread(), std::this_thread::get_id());
}

TEST_F(CameraAdapter, ReleaseDoesNotStopCapture) {
    m_adapter->StartCapturingFrames(nullptr, 5);
    Dispose(m_adapter);
    CameraLog finalizedLog;
    Ref<CameraContract> finalized = AdapterOver(finalizedLog);
    finalized->StartCapturingFrames(nullptr, 5);
    finalized.Reset();
    kiv::runtime::CollectAndWaitForPendingFinalizers();

    for (CameraLog* log : {&m_log, &finalizedLog}) {
        EXPECT_EQ(log->deletion.Deletions(), 1);
        EXPECT_EQ(log->Calls(), std::vector<std::string>{"StartCapturingFrames"});
    }
}

TEST_F(CameraAdapter, AfterReleaseNothingIsCreatedOrCalled) {
    Dispose(m_adapter);
    std::atomic<int> receiverDestroyed{0};
    Ref<RecordingReceiver> receiver = New<RecordingReceiver>(&receiverDestroyed);
    EXPECT_NO_THROW(m_adapter->StartCapturingFrames(receiver, 30));
    EXPECT_NO_THROW(m_adapter->StopCapturingFrames());
    EXPECT_NO_THROW(m_adapter->SwitchCamera());
    EXPECT_EQ(m_adapter->GetNumberOfCameras(), 0);
    receiver.Reset();
    EXPECT_EQ(receiverDestroyed, 1) << "no frame callback holds the receiver";
    EXPECT_TRUE(m_log.Calls().empty());
    EXPECT_TRUE(m_log.callbacks.empty());
    EXPECT_EQ(m_log.deletion.Deletions(), 1);
}

TEST(CameraAdapterWithoutCamera, DoesNothingAndReleasesNothing) {
    Ref<CameraContract> adapter = New<KivCameraProvider>(nullptr);
    const Ref<RecordingReceiver> receiver = New<RecordingReceiver>();
    EXPECT_NO_THROW(adapter->StartCapturingFrames(receiver, 30));
    EXPECT_NO_THROW(adapter->StopCapturingFrames());
    EXPECT_NO_THROW(adapter->SwitchCamera());
    EXPECT_EQ(adapter->GetNumberOfCameras(), 0);
    EXPECT_NO_THROW(Dispose(adapter));
    EXPECT_NO_THROW(Dispose(adapter));
}

// The two promises for calls on other threads: Dispose during a call, and the hosted UI dropping
// its last reference during a call. The camera's operation blocks until the test opens the gate.
class CameraAdapterDuringACall : public ::testing::TestWithParam<Operation> {
protected:
    ~CameraAdapterDuringACall() override {
        m_gate.Open();
        if (m_caller.joinable()) m_caller.join();
        m_adapter.Reset();
        kiv::runtime::CollectAndWaitForPendingFinalizers();
    }

    // Starts the operation on a thread of its own, through a plain pointer like a hosted UI that
    // may drop its reference meanwhile, and waits until the camera is inside it.
    void StartBlockedCall() {
        m_log.gate = &m_gate;
        CameraContract* adapter = m_adapter.Get();
        m_caller = std::thread([adapter, call = GetParam().call] { call(*adapter); });
        m_gate.WaitForArrivals(1);
    }

    std::thread::id FinishCall() {
        const std::thread::id caller = m_caller.get_id();
        m_gate.Open();
        m_caller.join();
        return caller;
    }

    Gate m_gate;
    CameraLog m_log;
    Ref<CameraContract> m_adapter = AdapterOver(m_log);
    std::thread m_caller;
};

TEST_P(CameraAdapterDuringACall, DisposeLeavesTheCameraToTheCallWhichDeletesItOnReturn) {
    StartBlockedCall();
    Dispose(m_adapter);
    Dispose(m_adapter);
    EXPECT_EQ(m_log.deletion.Deletions(), 0) << "deleted while its operation was running";
    const std::thread::id caller = FinishCall();
    EXPECT_EQ(m_log.deletion.Deletions(), 1);
    EXPECT_EQ(m_log.deletion.CallsInProgressAtDeletion(), 0);
    EXPECT_EQ(m_log.deletion.Thread(), caller) << "the last one out deletes";
    m_adapter.Reset();
    kiv::runtime::CollectAndWaitForPendingFinalizers();
    EXPECT_EQ(m_log.deletion.Deletions(), 1);
}

TEST_P(CameraAdapterDuringACall, DroppingTheLastReferenceDefersFinalizationUntilTheCallReturns) {
    StartBlockedCall();
    m_adapter.Reset();
    kiv::runtime::CollectAndWaitForPendingFinalizers();
    EXPECT_EQ(m_log.deletion.Deletions(), 0) << "finalized while its operation was running";
    FinishCall();
    kiv::runtime::CollectAndWaitForPendingFinalizers();
    EXPECT_EQ(m_log.deletion.Deletions(), 1);
    EXPECT_EQ(m_log.deletion.CallsInProgressAtDeletion(), 0);
    EXPECT_TRUE(m_log.deletion.OnFinalizerThread());
}

TEST_P(CameraAdapterDuringACall, DisposeAndDroppingTheLastReferenceDuringTheCall) {
    StartBlockedCall();
    Dispose(m_adapter);
    m_adapter.Reset();
    kiv::runtime::CollectAndWaitForPendingFinalizers();
    EXPECT_EQ(m_log.deletion.Deletions(), 0);
    const std::thread::id caller = FinishCall();
    kiv::runtime::CollectAndWaitForPendingFinalizers();
    EXPECT_EQ(m_log.deletion.Deletions(), 1);
    EXPECT_EQ(m_log.deletion.CallsInProgressAtDeletion(), 0);
    EXPECT_EQ(m_log.deletion.Thread(), caller);
}

INSTANTIATE_TEST_SUITE_P(EveryOperation, CameraAdapterDuringACall, ::testing::ValuesIn(CameraOperations()),
                         [](const ::testing::TestParamInfo<Operation>& info) { return std::string(info.param.name); });

TEST(CameraAdapterConcurrency, CallsRacingWithDisposeNeverOutliveTheCameraAndSeeItGoOnce) {
    constexpr int kCallers = 3;
    constexpr int kCallsPerCaller = 3000;
    CameraLog log;
    log.numberOfCameras = 2;
    Ref<CameraContract> adapter = AdapterOver(log);
    std::atomic<int> started{0};
    std::atomic<bool> monotonic{true};
    std::vector<std::thread> callers;
    for (int c = 0; c < kCallers; ++c) {
        callers.emplace_back([&, keep = adapter] {
            ++started;
            bool released = false;
            for (int i = 0; i < kCallsPerCaller; ++i) {
                const int count = keep->GetNumberOfCameras();
                if (count == 0)
                    released = true;
                else if (released || count != 2)
                    monotonic = false;
            }
        });
    }
    while (started < kCallers) std::this_thread::yield();
    Dispose(adapter);
    for (auto& caller : callers) caller.join();
    EXPECT_EQ(log.deletion.Deletions(), 1);
    EXPECT_EQ(log.deletion.CallsInProgressAtDeletion(), 0);
    EXPECT_TRUE(monotonic) << "a call found the camera again after it had been released";
    EXPECT_EQ(adapter->GetNumberOfCameras(), 0);
    adapter.Reset();
    kiv::runtime::CollectAndWaitForPendingFinalizers();
    EXPECT_EQ(log.deletion.Deletions(), 1);
}

}  // namespace
}  // namespace kiv::fld
