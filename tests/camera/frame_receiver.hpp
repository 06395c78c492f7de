// A frame receiver for tests: the component object a hosted UI names to receive frames. It records
// what reaches it, can raise, and counts its own end.
#pragma once

#include <atomic>
#include <mutex>
#include <vector>

#include "KivFldCommon/IKivCameraProviderCallback.hpp"
#include "kiv/runtime/errors.hpp"
#include "kiv/runtime/object.hpp"
#include "kiv/runtime/string.hpp"

namespace kiv::fld::testing {

/// The text a raising receiver raises with.
inline constexpr const char* kReceiverRefused = "the receiver is closed";

class RecordingReceiver final : public KivFldCommon::IKivCameraProviderCallback {
public:
    struct Frame {
        std::int32_t length;
        kiv::runtime::PointerValue data;
        /// The first byte at `data` as the receiver read it during the call, when `data` was set.
        int firstByte;
    };

    /// `destroyed` counts this receiver's end; it must outlive the receiver.
    explicit RecordingReceiver(std::atomic<int>* destroyed = nullptr) : m_destroyed(destroyed) {}
    ~RecordingReceiver() override {
        if (m_destroyed) ++*m_destroyed;
    }

    void HandleFrame(std::int32_t frameDataLength, kiv::runtime::PointerValue frameData) override {
        ++frameCount;
        if (!recordFrames) return;
        const int firstByte = frameData ? *reinterpret_cast<const unsigned char*>(frameData) : -1;
        {
            std::lock_guard lock(m_mutex);
            m_frames.push_back({frameDataLength, frameData, firstByte});
        }
        if (raise) throw kiv::runtime::InvalidOperationError(kReceiverRefused);
    }

    void HandleError(const kiv::runtime::String& errorMessage) override {
        {
            std::lock_guard lock(m_mutex);
            m_errors.push_back(errorMessage);
        }
        if (raise) throw kiv::runtime::InvalidOperationError(kReceiverRefused);
    }

    std::vector<Frame> Frames() {
        std::lock_guard lock(m_mutex);
        return m_frames;
    }
    std::vector<kiv::runtime::String> Errors() {
        std::lock_guard lock(m_mutex);
        return m_errors;
    }

    /// Raise from both operations after recording.
    std::atomic<bool> raise{false};
    /// When false, frames are only counted (no lock, no allocation).
    std::atomic<bool> recordFrames{true};
    std::atomic<int> frameCount{0};

private:
    std::atomic<int>* m_destroyed;
    std::mutex m_mutex;
    std::vector<Frame> m_frames;
    std::vector<kiv::runtime::String> m_errors;
};

}  // namespace kiv::fld::testing
