// The demo's host camera: two synthetic cameras that deliver grey-scale test-pattern frames on a
// thread of their own at the interval the hosted UI asks for, counting what they deliver so that
// the demo can check the statistics the UI reports.
#pragma once

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "kiv/fld/camera.hpp"

namespace kivfld::demo {

/// CRC-32 (IEEE, as zlib's crc32), the frame checksum the map-areas UI reports.
inline std::uint32_t Crc32(const unsigned char* data, std::size_t size) {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> entries{};
        for (std::uint32_t i = 0; i < 256; ++i) {
            std::uint32_t value = i;
            for (int bit = 0; bit < 8; ++bit) value = (value & 1) ? 0xEDB88320u ^ (value >> 1) : value >> 1;
            entries[i] = value;
        }
        return entries;
    }();
    std::uint32_t crc = 0xFFFFFFFFu;
    for (std::size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return crc ^ 0xFFFFFFFFu;
}

/// What the camera delivered and did; shared with the demo because the hosted UI decides when the
/// camera is deleted (on its own thread).
struct CameraRecord {
    std::mutex mutex;
    std::uint64_t frames = 0;
    std::uint64_t bytes = 0;
    /// Sum, modulo 2^32, of the CRC-32 of each frame delivered.
    std::uint32_t checksum = 0;
    int interval = 0;
    int switches = 0;
    bool deleted = false;
};

class TestPatternCamera final : public kiv::fld::IKivCameraProvider {
public:
    static constexpr int kWidth = 160;
    static constexpr int kHeight = 120;

    explicit TestPatternCamera(std::shared_ptr<CameraRecord> record) : m_record(std::move(record)) {}
    ~TestPatternCamera() override {
        Stop();
        const std::lock_guard lock(m_record->mutex);
        m_record->deleted = true;
    }

    bool StartCapturingFrames(std::unique_ptr<kiv::fld::KivCameraProviderCallback> callbackHandler,
                              int interval) override {
        Stop();
        {
            const std::lock_guard lock(m_record->mutex);
            m_record->interval = interval;
        }
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = false;
        }
        m_thread = std::thread([this, callback = std::move(callbackHandler), interval]() mutable {
            Deliver(*callback, std::chrono::milliseconds(interval > 0 ? interval : 1));
        });
        return true;
    }
    bool StopCapturingFrames() override {
        Stop();
        return true;
    }
    int GetNumberOfCameras() override { return 2; }
    bool SwitchCamera() override {
        const std::lock_guard lock(m_record->mutex);
        ++m_record->switches;
        return true;
    }

private:
    // Camera 0 shows a moving diagonal gradient, camera 1 a moving checkerboard.
    void Paint(std::vector<unsigned char>& frame, std::uint64_t number, int camera) const {
        for (int y = 0; y < kHeight; ++y) {
            for (int x = 0; x < kWidth; ++x) {
                const auto shift = static_cast<int>(number % 256);
                const int value = camera == 0 ? (x + y + shift) & 0xFF : (((x + shift) / 16 + y / 16) % 2) * 255;
                frame[static_cast<std::size_t>(y * kWidth + x)] = static_cast<unsigned char>(value);
            }
        }
    }

    void Deliver(kiv::fld::KivCameraProviderCallback& callback, std::chrono::milliseconds interval) {
        std::vector<unsigned char> frame(static_cast<std::size_t>(kWidth * kHeight));
        std::uint64_t number = 0;
        auto next = std::chrono::steady_clock::now();
        std::unique_lock lock(m_mutex);
        while (!m_stopping) {
            lock.unlock();
            int camera;
            {
                const std::lock_guard recordLock(m_record->mutex);
                camera = m_record->switches % 2;
            }
            Paint(frame, number++, camera);
            callback.HandleFrame(static_cast<int>(frame.size()), frame.data());
            {
                const std::lock_guard recordLock(m_record->mutex);
                ++m_record->frames;
                m_record->bytes += frame.size();
                m_record->checksum += Crc32(frame.data(), frame.size());
            }
            next += interval;
            lock.lock();
            m_wake.wait_until(lock, next, [this] { return m_stopping; });
        }
    }

    void Stop() {
        {
            const std::lock_guard lock(m_mutex);
            m_stopping = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable()) m_thread.join();
    }

    std::shared_ptr<CameraRecord> m_record;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stopping = false;
    std::thread m_thread;
};

}  // namespace kivfld::demo
