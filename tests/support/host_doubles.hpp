// Host objects for tests: they record every call, can block a call until the test lets it go, and
// record how often, on which thread and during how many running calls they were deleted.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "kiv/fld/camera.hpp"
#include "kiv/fld/managed_ui.hpp"
#include "kiv/runtime/collector.hpp"

namespace kiv::fld::testing {

/// Holds calls back until the test opens it, and tells the test when they have arrived.
class Gate {
public:
    /// Called by the blocked operation.
    void ArriveAndWait() {
        std::unique_lock lock(m_mutex);
        ++m_arrived;
        m_changed.notify_all();
        m_changed.wait(lock, [this] { return m_open; });
    }
    /// Waits until `count` calls have arrived.
    void WaitForArrivals(int count) {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_arrived >= count; });
    }
    void Open() {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_changed.notify_all();
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    int m_arrived = 0;
    bool m_open = false;
};

/// The end of a host object: how often it was deleted, where, and whether a call was still running.
class DeletionRecord {
public:
    void Record(int callsInProgress) {
        std::lock_guard lock(m_mutex);
        ++m_deletions;
        m_thread = std::this_thread::get_id();
        m_onFinalizerThread = kiv::runtime::IsFinalizerThread();
        m_callsInProgress = callsInProgress;
        m_sequence = NextSequence();
    }
    int Deletions() const {
        std::lock_guard lock(m_mutex);
        return m_deletions;
    }
    std::thread::id Thread() const {
        std::lock_guard lock(m_mutex);
        return m_thread;
    }
    bool OnFinalizerThread() const {
        std::lock_guard lock(m_mutex);
        return m_onFinalizerThread;
    }
    /// Orders deletions across records: a smaller number was deleted earlier; 0 means not deleted.
    std::uint64_t Sequence() const {
        std::lock_guard lock(m_mutex);
        return m_sequence;
    }
    /// Calls of the host object that had not returned when it was deleted.
    int CallsInProgressAtDeletion() const {
        std::lock_guard lock(m_mutex);
        return m_callsInProgress;
    }

private:
    mutable std::mutex m_mutex;
    int m_deletions = 0;
    std::thread::id m_thread;
    bool m_onFinalizerThread = false;
    int m_callsInProgress = -1;
    std::uint64_t m_sequence = 0;

    static std::uint64_t NextSequence() {
        static std::atomic<std::uint64_t> last{0};
        return ++last;
    }
};

/// Everything a RecordingCamera saw; outlives the camera, so tests can read it after deletion.
struct CameraLog {
    std::mutex mutex;
    /// Operation names in call order.
    std::vector<std::string> calls;
    std::vector<int> intervals;
    /// The frame callbacks the camera received, kept here so tests can use them.
    std::vector<std::unique_ptr<KivCameraProviderCallback>> callbacks;
    /// What the operations return.
    bool result = true;
    int numberOfCameras = 1;
    /// When set, every operation raises this text (as std::runtime_error) after recording the call.
    std::string raise;
    /// When set, every operation waits here after recording the call.
    Gate* gate = nullptr;
    std::atomic<int> callsInProgress{0};
    DeletionRecord deletion;

    std::vector<std::string> Calls() {
        std::lock_guard lock(mutex);
        return calls;
    }
};

/// Counts a host call as running from its start until it returns or raises.
class RunningCall {
public:
    explicit RunningCall(std::atomic<int>& callsInProgress) : m_callsInProgress(callsInProgress) {
        ++m_callsInProgress;
    }
    ~RunningCall() { --m_callsInProgress; }
    RunningCall(const RunningCall&) = delete;
    RunningCall& operator=(const RunningCall&) = delete;

private:
    std::atomic<int>& m_callsInProgress;
};

/// A host camera that logs into a CameraLog.
class RecordingCamera final : public IKivCameraProvider {
public:
    explicit RecordingCamera(CameraLog& log) : m_log(log) {}
    ~RecordingCamera() override { m_log.deletion.Record(m_log.callsInProgress.load()); }

    bool StartCapturingFrames(std::unique_ptr<KivCameraProviderCallback> callbackHandler, int interval) override {
        const RunningCall running(m_log.callsInProgress);
        {
            std::lock_guard lock(m_log.mutex);
            m_log.intervals.push_back(interval);
            m_log.callbacks.push_back(std::move(callbackHandler));
        }
        Proceed("StartCapturingFrames");
        return m_log.result;
    }
    bool StopCapturingFrames() override {
        const RunningCall running(m_log.callsInProgress);
        Proceed("StopCapturingFrames");
        return m_log.result;
    }
    int GetNumberOfCameras() override {
        const RunningCall running(m_log.callsInProgress);
        Proceed("GetNumberOfCameras");
        return m_log.numberOfCameras;
    }
    bool SwitchCamera() override {
        const RunningCall running(m_log.callsInProgress);
        Proceed("SwitchCamera");
        return m_log.result;
    }

private:
    void Proceed(const char* operation) {
        {
            std::lock_guard lock(m_log.mutex);
            m_log.calls.emplace_back(operation);
        }
        if (m_log.gate) m_log.gate->ArriveAndWait();
        if (!m_log.raise.empty()) throw std::runtime_error(m_log.raise);
    }

    CameraLog& m_log;
};

/// Everything a RecordingUiCallback saw; outlives the callback, so tests can read it after deletion.
struct EventLog {
    std::mutex mutex;
    std::vector<std::string> events;
    /// When set, HandleEvent throws this text (as std::runtime_error) after recording the event.
    std::string raise;
    /// When set, HandleEvent waits here after recording the event.
    Gate* gate = nullptr;
    std::atomic<int> callsInProgress{0};
    DeletionRecord deletion;

    std::vector<std::string> Events() {
        std::lock_guard lock(mutex);
        return events;
    }
};

/// A host callback that logs into an EventLog.
class RecordingUiCallback final : public IKivManagedUiCallback {
public:
    explicit RecordingUiCallback(EventLog& log) : m_log(log) {}
    ~RecordingUiCallback() override { m_log.deletion.Record(m_log.callsInProgress.load()); }

    void HandleEvent(const std::string& data) override {
        const RunningCall running(m_log.callsInProgress);
        {
            std::lock_guard lock(m_log.mutex);
            m_log.events.push_back(data);
        }
        if (m_log.gate) m_log.gate->ArriveAndWait();
        if (!m_log.raise.empty()) throw std::runtime_error(m_log.raise);
    }

private:
    EventLog& m_log;
};

}  // namespace kiv::fld::testing
