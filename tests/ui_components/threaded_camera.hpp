// A synthetic host camera for the UI component tests: delivers a scripted set of frames, then
// scripted errors, on threads of its own, each frame from a buffer that is scribbled over and freed
// as soon as HandleFrame returns. Everything it saw outlives it in a CameraScript.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "kiv/fld/camera.hpp"
#include "support/host_doubles.hpp"

namespace kiv::fld::testing {

/// A frame as the camera states it: `bytes` are copied into a fresh buffer for the call.
struct ScriptedFrame {
    ScriptedFrame(std::string frameBytes, std::optional<int> statedLength = std::nullopt, bool nullAddress = false)
        : bytes(std::move(frameBytes)), length(statedLength), noAddress(nullAddress) {}

    std::string bytes;
    /// A length to state instead of bytes.size().
    std::optional<int> length;
    /// Passes a null address instead of the buffer.
    bool noAddress = false;
};

/// What the camera delivers and everything it saw.
struct CameraScript {
    // Set before the camera is handed over.
    std::vector<ScriptedFrame> frames;
    std::vector<std::string> errors;
    int numberOfCameras = 2;
    /// Threads that each deliver every frame and error once.
    int deliveryThreads = 1;
    /// StartCapturingFrames raises this text (std::runtime_error) when set.
    std::string startRaises;

    // Filled in by the camera.
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> calls;
    std::vector<int> intervals;
    /// Deliveries (frames and errors) made so far, over all captures.
    int delivered = 0;
    DeletionRecord deletion;

    std::vector<std::string> Calls() {
        std::lock_guard lock(mutex);
        return calls;
    }
    std::vector<int> Intervals() {
        std::lock_guard lock(mutex);
        return intervals;
    }
    /// Waits (bounded, so that a hang fails instead of blocking) until `count` deliveries are done.
    bool WaitForDeliveries(int count) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, std::chrono::seconds(30), [&] { return delivered >= count; });
    }
    /// Deliveries one capture makes.
    int DeliveriesPerCapture() const { return deliveryThreads * static_cast<int>(frames.size() + errors.size()); }
};

class ThreadedCamera final : public IKivCameraProvider {
public:
    explicit ThreadedCamera(CameraScript& script) : m_script(script) {}
    ~ThreadedCamera() override {
        StopThreads();
        m_script.deletion.Record(0);
    }

    bool StartCapturingFrames(std::unique_ptr<KivCameraProviderCallback> callbackHandler, int interval) override {
        Record("StartCapturingFrames");
        {
            std::lock_guard lock(m_script.mutex);
            m_script.intervals.push_back(interval);
        }
        if (!m_script.startRaises.empty()) throw std::runtime_error(m_script.startRaises);
        StopThreads();
        m_callback = std::move(callbackHandler);
        m_stop = false;
        for (int i = 0; i < m_script.deliveryThreads; ++i) m_threads.emplace_back([this] { Deliver(); });
        return true;
    }
    bool StopCapturingFrames() override {
        Record("StopCapturingFrames");
        StopThreads();
        return true;
    }
    int GetNumberOfCameras() override {
        Record("GetNumberOfCameras");
        return m_script.numberOfCameras;
    }
    bool SwitchCamera() override {
        Record("SwitchCamera");
        return true;
    }

private:
    void Record(const char* call) {
        std::lock_guard lock(m_script.mutex);
        m_script.calls.emplace_back(call);
    }

    void Deliver() {
        for (const ScriptedFrame& frame : m_script.frames) {
            const int length = frame.length.value_or(static_cast<int>(frame.bytes.size()));
            void* buffer = nullptr;
            if (!frame.noAddress) {
                buffer = std::malloc(frame.bytes.size() + 1);
                std::memcpy(buffer, frame.bytes.data(), frame.bytes.size());
            }
            m_callback->HandleFrame(length, buffer);
            if (buffer) {
                // The frame is gone once HandleFrame returns: a receiver that kept the address would
                // read garbage here, or freed memory (which AddressSanitizer reports).
                std::memset(buffer, 0xDD, frame.bytes.size() + 1);
                std::free(buffer);
            }
            Delivered();
        }
        for (const std::string& error : m_script.errors) {
            m_callback->HandleError(error);
            Delivered();
        }
        std::unique_lock lock(m_mutex);
        m_wake.wait(lock, [this] { return m_stop; });
    }

    void Delivered() {
        std::lock_guard lock(m_script.mutex);
        ++m_script.delivered;
        m_script.changed.notify_all();
    }

    void StopThreads() {
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        for (std::thread& thread : m_threads) thread.join();
        m_threads.clear();
        m_callback.reset();
    }

    CameraScript& m_script;
    std::unique_ptr<KivCameraProviderCallback> m_callback;
    std::vector<std::thread> m_threads;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
};

}  // namespace kiv::fld::testing
