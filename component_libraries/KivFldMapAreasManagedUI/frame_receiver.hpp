// The map-areas UI's frame receiver: counts the frames the host camera delivers and checksums them
// while each one is valid, and hands camera errors to the UI thread.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <utility>

#include "KivFldCommon/IKivCameraProviderCallback.hpp"
#include "common/crc32.hpp"
#include "common/hosted_ui.hpp"
#include "common/utf16.hpp"
#include "kiv/runtime/object.hpp"
#include "kiv/runtime/string.hpp"

namespace kivfld::components {

/// What the frames delivered so far add up to.
struct FrameStatistics {
    /// Frames taken, and their bytes.
    std::uint64_t received = 0;
    std::uint64_t bytes = 0;
    /// Frames refused: a negative length, or no address for a positive length.
    std::uint64_t rejected = 0;
    /// The sum, modulo 2^32, of the CRC-32 of each frame taken: independent of the order in which
    /// frames arrive, so it is defined also when several camera threads deliver at once.
    std::uint32_t checksum = 0;

    /// "frames:received=<n> rejected=<n> bytes=<n> checksum=<8 hex digits>".
    std::string EventText() const {
        char text[160];
        std::snprintf(text, sizeof text, "frames:received=%llu rejected=%llu bytes=%llu checksum=%08x",
                      static_cast<unsigned long long>(received), static_cast<unsigned long long>(rejected),
                      static_cast<unsigned long long>(bytes), static_cast<unsigned>(checksum));
        return text;
    }

    friend bool operator==(const FrameStatistics&, const FrameStatistics&) = default;
};

/// Receives frames on the host camera's threads, several at once if the camera wishes.
/// WARNING: a frame is host memory that is valid only during HandleFrame, so it is read there and
/// nothing of it is kept. The receiver may outlive its UI (the host camera decides when it lets
/// go); errors that come after the UI ended are dropped.
class FrameReceiver final : public KivFldCommon::IKivCameraProviderCallback {
public:
    /// `onError` runs on the UI thread for each camera error, with its text in UTF-8.
    using ErrorHandler = void (*)(const std::string& message, UiContext& context);

    FrameReceiver(std::shared_ptr<UiMailbox> mailbox, ErrorHandler onError)
        : m_mailbox(std::move(mailbox)), m_onError(onError) {}

    void HandleFrame(std::int32_t frameDataLength, kiv::runtime::PointerValue frameData) override {
        if (frameDataLength < 0 || (frameDataLength > 0 && frameData == 0)) {
            const std::lock_guard lock(m_mutex);
            ++m_statistics.rejected;
            return;
        }
        const std::uint32_t crc =
            Crc32(reinterpret_cast<const unsigned char*>(frameData), static_cast<std::size_t>(frameDataLength));
        const std::lock_guard lock(m_mutex);
        ++m_statistics.received;
        m_statistics.bytes += static_cast<std::uint64_t>(frameDataLength);
        m_statistics.checksum += crc;
    }

    void HandleError(const kiv::runtime::String& errorMessage) override {
        m_mailbox->Post([message = ToUtf8(errorMessage), onError = m_onError](UiView&, UiContext& context) {
            onError(message, context);
        });
    }

    FrameStatistics Statistics() const {
        const std::lock_guard lock(m_mutex);
        return m_statistics;
    }

private:
    const std::shared_ptr<UiMailbox> m_mailbox;
    const ErrorHandler m_onError;
    mutable std::mutex m_mutex;
    FrameStatistics m_statistics;
};

}  // namespace kivfld::components
