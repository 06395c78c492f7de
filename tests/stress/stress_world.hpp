// What the stress threads share: the in-process components behind every facade and UI kind, the
// host objects handed to StartUI, the places where hosted UIs keep their adapters, and the bus on
// which host cameras pass their frame callbacks to the frame threads. Everything counts itself in
// the ledger and checks what reaches it against the notes the calling worker left on its thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <random>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "KivFldCommon/IKivManagedUI.hpp"
#include "KivFldEmail/EmailClient.hpp"
#include "KivFldExternalGpsProvider/KivFldExternalGpsProvider.hpp"
#include "KivFldZipArchive/KivZipArchive.hpp"
#include "kiv/fld/camera.hpp"
#include "kiv/fld/managed_ui.hpp"
#include "kiv/runtime/runtime.hpp"
#include "stress_ledger.hpp"

namespace kiv::fld::stress {

using kiv::runtime::PointerValue;
using kiv::runtime::Ref;
using kiv::runtime::String;

/// What the run counts, per thread, summed at the end.
enum class Op : int {
    HandleCopies,
    HandleMoves,
    HandleAssignments,
    HandleResets,
    HandleCreations,
    FailedCreations,
    FacadeCalls,
    StartUi,
    StartUiTrue,
    UpdateUi,
    StopUi,
    Events,
    EventsDelivered,
    CameraCalls,
    CameraCallsDelivered,
    Frames,
    FrameErrors,
    FramesAfterCameraDeleted,
    Disposes,
    Drops,
    DropsDuringCall,
    Collections,
    FaultsInjected,
    Count
};

struct Counters {
    std::array<std::uint64_t, static_cast<int>(Op::Count)> values{};
    void Add(Op op, std::uint64_t n = 1) { values[static_cast<int>(op)] += n; }
    std::uint64_t operator[](Op op) const { return values[static_cast<int>(op)]; }
};

/// Guards the window in which a caller holds an adapter by plain pointer only, as a hosted UI
/// does that may let go of its reference meanwhile. The slot does not let go of its reference
/// while such a caller has not yet been confirmed inside the host object (from then on the
/// adapter keeps itself alive); confirmed calls of the current adapter are counted, so that a
/// drop during one of them is seen.
struct SlotGuard {
    std::mutex mutex;
    std::uint64_t generation = 0;
    int unconfirmedCalls = 0;
    int confirmedCalls = 0;
};

/// One place where hosted UIs keep an adapter they were given.
template <class Contract>
struct AdapterSlot : SlotGuard {
    Ref<Contract> adapter;

    /// What a Replace did to the adapter that was there.
    enum class Outcome { Refused, WasEmpty, Dropped, DroppedDuringCall };

    /// Lets go of the adapter (or replaces it) unless an unconfirmed caller depends on it.
    Outcome Replace(Ref<Contract> replacement) {
        const std::lock_guard lock(mutex);
        if (unconfirmedCalls != 0) return Outcome::Refused;
        const Outcome outcome = !adapter             ? Outcome::WasEmpty
                                : confirmedCalls > 0 ? Outcome::DroppedDuringCall
                                                     : Outcome::Dropped;
        adapter = std::move(replacement);  // the old reference goes here, maybe the last one
        ++generation;
        confirmedCalls = 0;
        return outcome;
    }
    /// A reference to the adapter, or none.
    Ref<Contract> Get() {
        const std::lock_guard lock(mutex);
        return adapter;
    }
};

/// What a worker tells the objects it calls on its own thread, and what they tell it back.
struct CallNotes {
    std::mt19937_64* rng = nullptr;
    Counters* counters = nullptr;
    // Adapter calls by plain pointer (see SlotGuard).
    SlotGuard* slot = nullptr;
    std::uint64_t generation = 0;
    bool confirmed = false;
    // Expectations and instructions.
    std::string expectedEvent;
    PointerValue expectedResources = 0;
    bool cameraGiven = false;
    bool receiverGiven = false;
    int expectedInterval = 0;
    int expectedFrameLength = 0;
    PointerValue expectedFrameAddress = 0;
    bool hostShouldThrow = false;
    bool componentShouldThrow = false;
    // What happened.
    bool uiReached = false;
    int hostCalls = 0;
    int componentCalls = 0;
    int framesReceived = 0;
    int camerasAnswered = 0;
};
inline thread_local CallNotes t_notes;

inline std::uint64_t Random(std::uint64_t bound) { return bound ? (*t_notes.rng)() % bound : 0; }
inline bool OneIn(std::uint64_t n) { return Random(n) == 0; }

/// Widens race windows: a short busy wait, now and then a yield.
inline void Dawdle() {
    if (OneIn(8)) {
        std::this_thread::yield();
        return;
    }
    const std::uint64_t spins = Random(200);
    for (std::uint64_t i = 0; i < spins; ++i) std::atomic_signal_fence(std::memory_order_seq_cst);
}

/// Marks a host call as arrived in its host object (the adapter keeps itself alive from here)
/// and, when it ends, as departed.
class HostCallWindow {
public:
    HostCallWindow() {
        SlotGuard* slot = t_notes.slot;
        if (!slot || t_notes.confirmed) return;
        const std::lock_guard lock(slot->mutex);
        --slot->unconfirmedCalls;
        ++slot->confirmedCalls;
        t_notes.confirmed = true;
        m_slot = slot;
    }
    ~HostCallWindow() {
        if (!m_slot) return;
        const std::lock_guard lock(m_slot->mutex);
        if (m_slot->generation == t_notes.generation) --m_slot->confirmedCalls;
    }
    HostCallWindow(const HostCallWindow&) = delete;
    HostCallWindow& operator=(const HostCallWindow&) = delete;

private:
    SlotGuard* m_slot = nullptr;
};

/// Calls `call(raw adapter)` through a slot by plain pointer. Returns false when the slot is empty.
template <class Contract, class Call>
bool CallThroughSlot(AdapterSlot<Contract>& slot, Call&& call) {
    Contract* adapter = nullptr;
    {
        const std::lock_guard lock(slot.mutex);
        if (!slot.adapter) return false;
        adapter = slot.adapter.Get();
        ++slot.unconfirmedCalls;
        t_notes.generation = slot.generation;
    }
    t_notes.slot = &slot;
    t_notes.confirmed = false;
    struct Done {
        AdapterSlot<Contract>& slot;
        ~Done() {
            if (!t_notes.confirmed) {
                const std::lock_guard lock(slot.mutex);
                --slot.unconfirmedCalls;
            }
            t_notes.slot = nullptr;
        }
    } done{slot};
    call(*adapter);
    return true;
}

// ---- the frame bus -----------------------------------------------------------------------------

/// Frame callbacks published by host cameras, with the camera each came from. Frame threads take
/// copies and deliver on them; the cameras themselves may be gone by then.
struct FrameSlot {
    std::mutex mutex;
    KivCameraProviderCallback callback;
    LifeRecord* camera = nullptr;
};

// ---- the world ---------------------------------------------------------------------------------

inline constexpr std::size_t kAdapterSlots = 8;
inline constexpr std::size_t kFrameSlots = 16;
inline constexpr std::size_t kHandleSlots = 8;

template <class Handle>
struct HandleSlot {
    std::mutex mutex;
    Handle handle;
};

template <class Handle>
using HandlePool = std::array<HandleSlot<Handle>, kHandleSlots>;

struct World {
    Ledger ledger;
    std::array<AdapterSlot<KivFldCommon::IKivManagedUICallback>, kAdapterSlots> eventSlots;
    std::array<AdapterSlot<KivFldCommon::IKivCameraProvider>, kAdapterSlots> cameraSlots;
    std::array<FrameSlot, kFrameSlots> frames;
    HandlePool<KivEmail> emails;
    HandlePool<ExternalGpsProvider> gpsProviders;
    HandlePool<KivZipArchive> zipArchives;
    HandlePool<KivManagedUi> uis;
    HandlePool<InfoBoxManagedUi> infoBoxes;
    HandlePool<RegisterBoxManagedUi> registerBoxes;
    HandlePool<SettingsManagedUi> settingsUis;
    HandlePool<MapAreasManagedUi> mapAreas;
    std::array<unsigned char, 4096> frameBytes{};
};

World& TheWorld();

// ---- component objects -------------------------------------------------------------------------

/// Counts itself; what it receives is checked against the calling worker's notes.
class Counted {
protected:
    explicit Counted(Kind kind) : m_life(TheWorld().ledger.Enter(kind)) {}
    ~Counted() { Ledger::Deleted(m_life); }
    Counted(const Counted&) = delete;
    Counted& operator=(const Counted&) = delete;

    LifeRecord& m_life;
};

inline bool StartsWithBang(const String& text) { return !text.IsNull() && text.Length() > 0 && text.View()[0] == u'!'; }

inline void ExpectNotNull(const String& text, const char* what) {
    if (text.IsNull()) Violation(std::string(what) + " arrived null");
}

/// The text the components raise with.
inline constexpr const char* kRefused = "refused on purpose";

class StressEmail final : public KivFldEmail::EmailClient, Counted {
public:
    StressEmail() : Counted(Kind::EmailClient) {}
    void SendMail(const String& address, const String& subject, const String& body,
                  const Ref<kiv::runtime::List<String>>& attachments) override {
        const InCall call(m_life);
        ++t_notes.componentCalls;
        ExpectNotNull(address, "an address");
        ExpectNotNull(subject, "a subject");
        ExpectNotNull(body, "a body");
        if (!attachments) Violation("an attachment list arrived null");
        if (StartsWithBang(address)) throw kiv::runtime::IoError(kRefused);
    }
};

class StressGps final : public KivFldExternalGpsProvider::KivFldExternalGpsProvider, Counted {
public:
    StressGps() : Counted(Kind::GpsProvider) {}
    String Invoke(const String& request) override {
        const InCall call(m_life);
        ++t_notes.componentCalls;
        ExpectNotNull(request, "a GPS request");
        if (request.View() == u"null") return String();
        if (StartsWithBang(request)) throw kiv::runtime::IoError(kRefused);
        return String(u"re:" + std::u16string(request.View()));
    }
};

class StressZip final : public KivFldZipArchive::KivZipArchive, Counted {
public:
    StressZip() : Counted(Kind::ZipArchive) {}
    void Open(const String& path, std::int32_t) override { Note(path); }
    void AddFile(const String& path, const String& entry) override {
        ExpectNotNull(entry, "an entry name");
        Note(path);
    }
    void ExtractEntryToFile(const String& entry, const String& destination, bool) override {
        ExpectNotNull(destination, "a destination");
        Note(entry);
    }
    String GetEntries() override {
        Note(String::Empty());
        return String(u"a.txt\n");
    }
    void Close() override { Note(String::Empty()); }

private:
    void Note(const String& first) {
        const InCall call(m_life);
        ++t_notes.componentCalls;
        ExpectNotNull(first, "a zip text");
        if (StartsWithBang(first) || t_notes.componentShouldThrow) throw kiv::runtime::IoError(kRefused);
    }
};

/// A frame receiver that checks every frame against what the frame thread sent.
class StressReceiver final : public KivFldCommon::IKivCameraProviderCallback, Counted {
public:
    StressReceiver() : Counted(Kind::FrameReceiver) {}
    void HandleFrame(std::int32_t length, PointerValue data) override {
        const InCall call(m_life);
        ++t_notes.framesReceived;
        if (length != t_notes.expectedFrameLength || data != t_notes.expectedFrameAddress)
            Violation("a frame arrived with another length or address than sent");
        if (t_notes.componentShouldThrow) throw kiv::runtime::InvalidOperationError(kRefused);
    }
    void HandleError(const String& message) override {
        const InCall call(m_life);
        ++t_notes.framesReceived;
        if (message.IsNull() || message.View() != u"lens cap on") Violation("a camera error arrived changed");
        if (t_notes.componentShouldThrow) throw kiv::runtime::InvalidOperationError(kRefused);
    }
};

/// How a StressUi's StartUI ends, chosen by the first unit of its data.
enum class StartPlan : char16_t {
    Succeed = u'A',
    RaiseBeforeKeeping = u'B',
    RaiseAfterKeepingEvents = u'C',
    RaiseAfterKeepingBoth = u'D',
};

/// A hosted UI of any kind: keeps the adapters it is given (in itself and in the shared slots,
/// from which the event and camera threads call them) and raises where its data tells it to.
class StressUi final : public KivFldCommon::IKivManagedUI, Counted {
public:
    StressUi() : Counted(Kind::HostedUi) {}

    void StartUI(const Ref<KivFldCommon::IKivManagedUICallback>& callbackHandler, const String& data,
                 PointerValue resources, const Ref<KivFldCommon::IKivCameraProvider>& cameraProvider) override {
        const InCall call(m_life);
        t_notes.uiReached = true;
        if (data.IsNull() || data.Length() == 0) {
            Violation("StartUI data arrived null or empty");
            return;
        }
        if (resources != t_notes.expectedResources) Violation("StartUI resources arrived changed");
        if (!callbackHandler) Violation("StartUI got no event adapter");
        if (bool(cameraProvider) != t_notes.cameraGiven) Violation("StartUI camera adapter does not match the host's");
        const auto plan = static_cast<StartPlan>(data.View()[0]);
        if (plan == StartPlan::RaiseBeforeKeeping) throw kiv::runtime::InvalidOperationError(kRefused);
        Keep(callbackHandler, m_events, TheWorld().eventSlots);
        if (plan == StartPlan::RaiseAfterKeepingEvents) throw kiv::runtime::InvalidOperationError(kRefused);
        if (cameraProvider) Keep(cameraProvider, m_camera, TheWorld().cameraSlots);
        if (plan == StartPlan::RaiseAfterKeepingBoth) throw kiv::runtime::InvalidOperationError(kRefused);
    }
    void StopUI() override {
        const InCall call(m_life);
        t_notes.uiReached = true;
        if (t_notes.componentShouldThrow) throw kiv::runtime::InvalidOperationError(kRefused);
    }
    void UpdateUI(const String& data) override {
        const InCall call(m_life);
        t_notes.uiReached = true;
        ExpectNotNull(data, "UpdateUI data");
        if (StartsWithBang(data)) throw kiv::runtime::InvalidOperationError(kRefused);
    }

private:
    template <class Contract, std::size_t N>
    void Keep(const Ref<Contract>& adapter, Ref<Contract>& member, std::array<AdapterSlot<Contract>, N>& slots) {
        {
            const std::lock_guard lock(m_mutex);
            member = adapter;
        }
        using Outcome = typename AdapterSlot<Contract>::Outcome;
        if (slots[Random(N)].Replace(adapter) == Outcome::DroppedDuringCall) t_notes.counters->Add(Op::DropsDuringCall);
    }

    std::mutex m_mutex;
    Ref<KivFldCommon::IKivManagedUICallback> m_events;
    Ref<KivFldCommon::IKivCameraProvider> m_camera;
};

// ---- host objects ------------------------------------------------------------------------------

/// The text host objects throw with.
inline constexpr const char* kHostRefused = "host refused on purpose";

/// A host callback: checks every event against what the event thread raised.
class StressUiCallback final : public IKivManagedUiCallback, Counted {
public:
    StressUiCallback() : Counted(Kind::UiCallback) {}
    LifeRecord& Life() { return m_life; }

    void HandleEvent(const std::string& data) override {
        const InCall call(m_life);
        const HostCallWindow window;
        ++t_notes.hostCalls;
        if (data != t_notes.expectedEvent) Violation("an event text arrived changed: \"" + data + "\"");
        Dawdle();
        if (t_notes.hostShouldThrow) throw std::runtime_error(kHostRefused);
    }
};

/// A host camera: keeps the frame callbacks it gets (a few), publishes copies of them on the
/// frame bus, and drops them on StopCapturingFrames and in its destructor.
class StressCamera final : public IKivCameraProvider, Counted {
public:
    StressCamera() : Counted(Kind::Camera), m_cameras(static_cast<int>(Random(7)) - 2) {}
    LifeRecord& Life() { return m_life; }

    bool StartCapturingFrames(std::unique_ptr<KivCameraProviderCallback> callbackHandler, int interval) override {
        const InCall call(m_life);
        const HostCallWindow window;
        ++t_notes.hostCalls;
        if (!callbackHandler) Violation("StartCapturingFrames got no frame callback");
        if (bool(*callbackHandler) != t_notes.receiverGiven) Violation("a frame callback's validity is wrong");
        if (interval != t_notes.expectedInterval) Violation("an interval arrived changed");
        FrameSlot& slot = TheWorld().frames[Random(kFrameSlots)];
        {
            const std::lock_guard lock(slot.mutex);
            slot.callback = *callbackHandler;
            slot.camera = &m_life;
        }
        std::unique_ptr<KivCameraProviderCallback> dropped;
        {
            const std::lock_guard lock(m_mutex);
            m_callbacks.push_back(std::move(callbackHandler));
            if (m_callbacks.size() > 3) {
                dropped = std::move(m_callbacks.front());
                m_callbacks.erase(m_callbacks.begin());
            }
        }
        return Finish();
    }
    bool StopCapturingFrames() override {
        const InCall call(m_life);
        const HostCallWindow window;
        ++t_notes.hostCalls;
        std::vector<std::unique_ptr<KivCameraProviderCallback>> dropped;
        {
            const std::lock_guard lock(m_mutex);
            dropped.swap(m_callbacks);
        }
        return Finish();
    }
    int GetNumberOfCameras() override {
        const InCall call(m_life);
        const HostCallWindow window;
        ++t_notes.hostCalls;
        t_notes.camerasAnswered = m_cameras;
        Finish();
        return m_cameras;
    }
    bool SwitchCamera() override {
        const InCall call(m_life);
        const HostCallWindow window;
        ++t_notes.hostCalls;
        return Finish();
    }

private:
    bool Finish() {
        Dawdle();
        if (t_notes.hostShouldThrow) throw std::runtime_error(kHostRefused);
        return OneIn(2);
    }

    const int m_cameras;
    std::mutex m_mutex;
    std::vector<std::unique_ptr<KivCameraProviderCallback>> m_callbacks;
};

}  // namespace kiv::fld::stress
