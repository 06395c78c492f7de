// The stress run's books: every object the run makes is entered when it is created and again when
// it is deleted, with the thread that deleted it, so that the end of the run can prove that each
// went exactly once, never during one of its own calls, and none was left behind.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "kiv/runtime/collector.hpp"

namespace kiv::fld::stress {

/// What a thread of the run does. Deletions are tallied by the role of the deleting thread.
enum class Role : int { Main, Handles, Ui, Events, Camera, Frames, Releaser, Finalizer, Count };

inline const char* RoleName(Role role) {
    static constexpr std::array<const char*, static_cast<int>(Role::Count)> kNames = {
        "main",           "handle threads", "UI threads", "event threads",
        "camera threads", "frame threads",  "releasers",  "finalizer"};
    return kNames[static_cast<int>(role)];
}

inline thread_local Role t_role = Role::Main;
inline thread_local int t_threadNumber = 0;

/// The calling thread's role; the runtime's finalizer thread is recognised by the runtime.
inline Role CurrentRole() noexcept { return kiv::runtime::IsFinalizerThread() ? Role::Finalizer : t_role; }

/// The objects the run counts: host objects (handed to the bridge) and component objects.
enum class Kind : int { UiCallback, Camera, FrameReceiver, HostedUi, EmailClient, GpsProvider, ZipArchive, Count };

inline const char* KindName(Kind kind) {
    static constexpr std::array<const char*, static_cast<int>(Kind::Count)> kNames = {
        "host UI callbacks", "host cameras",  "frame receivers", "hosted UIs",
        "e-mail clients",    "GPS providers", "zip archives"};
    return kNames[static_cast<int>(kind)];
}

/// Counts one violation of a promise and prints the first few.
inline std::atomic<std::uint64_t> g_violations{0};
inline void Violation(const std::string& what) {
    static std::mutex printing;
    if (g_violations.fetch_add(1) < 20) {
        const std::lock_guard lock(printing);
        std::fprintf(stderr, "VIOLATION: %s\n", what.c_str());
    }
}

/// The life of one object.
struct LifeRecord {
    Kind kind = Kind::UiCallback;
    std::atomic<int> deletions{0};
    std::atomic<int> callsInProgress{0};
    /// Calls that had not returned when the object was deleted.
    std::atomic<int> callsAtDeletion{0};
    std::atomic<int> deletingRole{-1};
    std::atomic<int> deletingThread{-1};
    /// Orders deletions across objects; 0 until deleted.
    std::atomic<std::uint64_t> deletionOrder{0};

    bool DeletedBy(int threadNumber) const noexcept {
        return deletions.load() > 0 && deletingThread.load() == threadNumber;
    }
};

/// Every object of the run, kept past its deletion until the end of the run.
class Ledger {
public:
    LifeRecord& Enter(Kind kind) {
        const std::lock_guard lock(m_mutex);
        if (m_count % kChunk == 0) m_chunks.push_back(std::make_unique<LifeRecord[]>(kChunk));
        LifeRecord& record = m_chunks.back()[m_count % kChunk];
        ++m_count;
        record.kind = kind;
        return record;
    }

    /// Called from the destructor of the object `record` stands for.
    static void Deleted(LifeRecord& record) noexcept {
        static std::atomic<std::uint64_t> lastOrder{0};
        record.callsAtDeletion = record.callsInProgress.load();
        record.deletingRole = static_cast<int>(CurrentRole());
        record.deletingThread = t_threadNumber;
        record.deletionOrder = ++lastOrder;
        record.deletions.fetch_add(1);
    }

    /// Runs `visit` on every record; only once no thread of the run creates objects any more.
    template <class Visit>
    void ForEach(Visit&& visit) const {
        const std::lock_guard lock(m_mutex);
        for (std::size_t i = 0; i < m_count; ++i)
            visit(static_cast<const LifeRecord&>(m_chunks[i / kChunk][i % kChunk]));
    }

private:
    static constexpr std::size_t kChunk = 4096;
    mutable std::mutex m_mutex;
    std::vector<std::unique_ptr<LifeRecord[]>> m_chunks;
    std::size_t m_count = 0;
};

/// Counts one call of the object as running from construction to destruction, and flags a call
/// that reaches an object already deleted.
class InCall {
public:
    explicit InCall(LifeRecord& record) : m_record(record) {
        ++m_record.callsInProgress;
        if (m_record.deletions.load() != 0) Violation(std::string("a call reached deleted ") + KindName(record.kind));
    }
    ~InCall() { --m_record.callsInProgress; }
    InCall(const InCall&) = delete;
    InCall& operator=(const InCall&) = delete;

private:
    LifeRecord& m_record;
};

}  // namespace kiv::fld::stress
