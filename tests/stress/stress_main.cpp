// Stress run of the bridge. For a given time, several threads per role at once:
//   handle threads copy, move, assign and destroy shared handles of every class and call them;
//   UI threads start, update and stop hosted UIs that fail at random points of StartUI (failed
//     runtime allocations, and hosted UIs that raise before or after keeping their adapters);
//   event and camera threads call the adapters the hosted UIs keep, by plain pointer, while
//   releasers dispose of those adapters and let go of the hosted UIs' references to them, so that
//     release and finalization race the calls;
//   frame threads deliver frames and camera errors on copies of the frame callbacks that host
//     cameras received, also after those cameras were deleted.
// At the end it forces reclamation and checks the ledger: every object deleted exactly once, none
// while one of its calls ran, none left over, and the runtime's live object count back where it
// started. It prints its figures and exits non-zero on any violation.
//
// Usage: kivfld_stress [--seconds S] [--threads-per-role N] [--seed X]

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "KivFldCommon/ManagedUIClasses.hpp"
#include "KivFldRegisterBoxManagedUI/KivFldRegisterBoxManagedUI.hpp"
#include "KivFldSettingsManagedUI/KivFldSettingsManagedUI.hpp"
#include "kiv/fld/email.hpp"
#include "kiv/fld/external_gps_provider.hpp"
#include "kiv/fld/zip_archive.hpp"
#include "stress_world.hpp"
#include "support/thread_locale.hpp"

namespace kiv::fld::stress {

World& TheWorld() {
    // Never destroyed: the finalizer thread may still look at it while the process exits.
    static World* world = new World;
    return *world;
}

namespace {

using kiv::runtime::ClassRegistration;
using kiv::runtime::New;
using kiv::runtime::testing::AllocationFailurePending;
using kiv::runtime::testing::CancelAllocationFailure;
using kiv::runtime::testing::FailAllocationAfter;
using kiv::runtime::testing::FailNextAllocation;

constexpr const char* kOutOfMemoryText = "Insufficient memory to continue the execution of the program.";

// The code pages the workers convert in, one per thread in turn.
constexpr std::array<const char*, 3> kLocales = {kiv::fld::testing::kUtf8Locale, kiv::fld::testing::kLatin1Locale,
                                                 kiv::fld::testing::kGbkLocale};
inline thread_local std::size_t t_locale = 0;

// Event texts a hosted UI raises, and what the host must receive in each code page.
struct EventText {
    bool null;
    std::u16string units;
    std::array<std::string, 3> expected;
};
const std::vector<EventText>& EventTexts() {
    using namespace std::string_literals;
    static const std::vector<EventText> texts = {
        {false, u"tick", {"tick", "tick", "tick"}},
        {true, u"", {"", "", ""}},
        {false, u"", {"", "", ""}},
        {false, std::u16string(u"a\0b", 3), {"a\0b"s, "a\0b"s, "a\0b"s}},
        {false, u"\u00FC", {"\xC3\xBC", "\xFC", "\xA8\xB9"}},
        {false, u"\u4E2D", {"\xE4\xB8\xAD", "?", "\xD6\xD0"}},
        {false, u"\U0001F600", {"\xF0\x9F\x98\x80", "?", "?"}},
        {false, std::u16string{char16_t(0xD800), u'x'}, {"\xEF\xBF\xBDx", "?x", "?x"}},
        {false, std::u16string{u'x', char16_t(0xDC00)}, {"x\xEF\xBF\xBD", "x?", "x?"}},
    };
    return texts;
}

// ---- handles -----------------------------------------------------------------------------------

// Creates a facade handle; now and then with its component's allocation failing, which must
// escape as OutOfMemoryError.
template <class Handle>
Handle CreateFacade() {
    Counters& counters = *t_notes.counters;
    const bool fail = OneIn(16);
    if (fail) {
        FailNextAllocation();
        counters.Add(Op::FaultsInjected);
    }
    try {
        Handle handle = Handle::CreateInstance();
        if (fail) Violation("a facade CreateInstance succeeded although its allocation failed");
        if (!handle) Violation("a facade CreateInstance returned an empty handle");
        counters.Add(Op::HandleCreations);
        CancelAllocationFailure();
        return handle;
    } catch (const kiv::runtime::OutOfMemoryError& error) {
        if (!fail) Violation("a facade CreateInstance ran out of memory unasked");
        if (std::strcmp(error.what(), kOutOfMemoryText) != 0) Violation("OutOfMemoryError with another text");
        counters.Add(Op::FailedCreations);
        return Handle();
    }
}

// Creates a UI handle of a kind; now and then with the hosted UI's allocation failing, which must
// give an empty handle.
template <class Kind>
Kind CreateKind() {
    Counters& counters = *t_notes.counters;
    const bool fail = OneIn(16);
    if (fail) {
        FailNextAllocation();
        counters.Add(Op::FaultsInjected);
    }
    Kind ui = Kind::CreateInstance();
    const bool fired = fail && !AllocationFailurePending();
    CancelAllocationFailure();
    if (fail != fired) Violation("a UI CreateInstance did not reach its allocation");
    if (bool(ui) == fail) Violation("a UI CreateInstance gave the wrong kind of handle");
    counters.Add(fail ? Op::FailedCreations : Op::HandleCreations);
    return ui;
}

// One of six things done to handles in one pool; `use` is given a local copy to call.
template <class Handle, class Use, class Create>
void HandleStep(HandlePool<Handle>& pool, Use&& use, Create&& create) {
    Counters& counters = *t_notes.counters;
    HandleSlot<Handle>& a = pool[Random(kHandleSlots)];
    HandleSlot<Handle>& b = pool[Random(kHandleSlots)];
    switch (Random(6)) {
        case 0: {
            Handle local = [&] {
                const std::lock_guard lock(a.mutex);
                return a.handle;
            }();
            counters.Add(Op::HandleCopies);
            use(local);
            break;
        }
        case 1: {
            if (&a == &b) {
                const std::lock_guard lock(a.mutex);
                const bool before = bool(a.handle);
                const Handle& alias = a.handle;
                a.handle = alias;
                if (bool(a.handle) != before) Violation("self-assignment changed a handle");
            } else {
                const std::scoped_lock lock(a.mutex, b.mutex);
                a.handle = b.handle;
                if (bool(a.handle) != bool(b.handle)) Violation("a copy-assigned handle differs from its source");
            }
            counters.Add(Op::HandleAssignments);
            break;
        }
        case 2: {
            if (&a == &b) break;
            const std::scoped_lock lock(a.mutex, b.mutex);
            const bool before = bool(b.handle);
            a.handle = std::move(b.handle);
            if (b.handle || bool(a.handle) != before) Violation("a move-assignment went wrong");
            counters.Add(Op::HandleMoves);
            break;
        }
        case 3: {
            Handle local;
            {
                const std::lock_guard lock(a.mutex);
                local = std::move(a.handle);
                if (a.handle) Violation("a moved-from handle is still valid");
            }
            counters.Add(Op::HandleMoves);
            use(local);
            const std::lock_guard lock(a.mutex);
            if (!a.handle) a.handle = std::move(local);
            break;
        }
        case 4: {
            const std::lock_guard lock(a.mutex);
            a.handle = Handle();
            counters.Add(Op::HandleResets);
            break;
        }
        default: {
            Handle fresh = create();
            const std::lock_guard lock(a.mutex);
            a.handle = std::move(fresh);
            break;
        }
    }
}

// Whether the component behind a call was reached, checked against the handle's validity.
class ComponentReach {
public:
    explicit ComponentReach(bool valid) : m_valid(valid), m_before(t_notes.componentCalls) {
        t_notes.counters->Add(Op::FacadeCalls);
    }
    ~ComponentReach() {
        if ((t_notes.componentCalls != m_before) != m_valid)
            Violation(m_valid ? "a valid handle did not reach its component" : "an empty handle reached a component");
    }

private:
    bool m_valid;
    int m_before;
};

void UseEmail(KivEmail& email) {
    const ComponentReach reach{static_cast<bool>(email)};
    const bool refuse = OneIn(4);
    std::vector<std::string> attachments(Random(4), "/tmp/attachment.txt");
    if (!attachments.empty()) attachments[0].clear();
    const bool sent = email.SendMail(refuse ? "!nobody" : "to@example.org", "subject", "", attachments);
    if (sent != (bool(email) && !refuse)) Violation("SendMail gave the wrong result");
}

void UseGps(ExternalGpsProvider& gps) {
    const ComponentReach reach{static_cast<bool>(gps)};
    static const char* const kRequests[] = {"?POLL;", "null", "!refused", ""};
    const std::string request = kRequests[Random(4)];
    const std::string answer = gps.Invoke(request);
    const bool answers = bool(gps) && request != "null" && request != "!refused";
    if (answer != (answers ? "re:" + request : std::string())) Violation("Invoke gave the wrong answer");
}

void UseZip(KivZipArchive& zip) {
    const ComponentReach reach{static_cast<bool>(zip)};
    const bool refuse = OneIn(4);
    const std::string path = refuse ? "!/data/a.zip" : "/data/a.zip";
    t_notes.componentShouldThrow = false;
    bool ok = false;
    switch (Random(5)) {
        case 0:
            ok = zip.Open(path, static_cast<int>(Random(3)));
            break;
        case 1:
            ok = zip.AddFile(path, "entry.txt");
            break;
        case 2:
            ok = zip.ExtractEntryToFile(refuse ? "!entry.txt" : "entry.txt", "/data/out.txt", OneIn(2));
            break;
        case 3: {
            t_notes.componentShouldThrow = refuse;
            const auto entries = zip.GetEntries();
            ok = entries.has_value();
            if (entries && *entries != "a.txt\n") Violation("GetEntries gave the wrong listing");
            break;
        }
        default:
            t_notes.componentShouldThrow = refuse;
            ok = zip.Close();
            break;
    }
    t_notes.componentShouldThrow = false;
    if (ok != (bool(zip) && !refuse)) Violation("a zip operation gave the wrong result");
}

// UpdateUI (now and then with its conversion's allocation failing) or StopUI on a UI handle.
void UseUi(KivManagedUi& ui) {
    Counters& counters = *t_notes.counters;
    const bool valid = bool(ui);
    t_notes.uiReached = false;
    if (OneIn(2)) {
        const bool refuse = OneIn(4);
        const bool fail = OneIn(8);
        if (fail) {
            FailNextAllocation();
            counters.Add(Op::FaultsInjected);
        }
        const bool updated = ui.UpdateUI(refuse ? "!refused" : "new data");
        const bool fired = fail && !AllocationFailurePending();
        CancelAllocationFailure();
        if (fired != (fail && valid)) Violation("UpdateUI did not convert its data first");
        if (t_notes.uiReached != (valid && !fired)) Violation("UpdateUI reached the wrong hosted UI calls");
        if (updated != (valid && !fired && !refuse)) Violation("UpdateUI gave the wrong result");
        counters.Add(Op::UpdateUi);
    } else {
        t_notes.componentShouldThrow = OneIn(4);
        const bool stopped = ui.StopUI();
        if (t_notes.uiReached != valid) Violation("StopUI reached the wrong hosted UI calls");
        if (stopped != (valid && !t_notes.componentShouldThrow)) Violation("StopUI gave the wrong result");
        t_notes.componentShouldThrow = false;
        counters.Add(Op::StopUi);
    }
}

template <class Kind>
Kind CreateAnyKindAs() {
    switch (Random(4)) {
        case 0:
            return CreateKind<InfoBoxManagedUi>();
        case 1:
            return CreateKind<RegisterBoxManagedUi>();
        case 2:
            return CreateKind<SettingsManagedUi>();
        default:
            return CreateKind<MapAreasManagedUi>();
    }
}

// A kind handle copied or moved into a plain KivManagedUi slot, which loses nothing.
template <class Kind>
void KindToBase(HandlePool<Kind>& kinds) {
    World& world = TheWorld();
    HandleSlot<Kind>& from = kinds[Random(kHandleSlots)];
    HandleSlot<KivManagedUi>& to = world.uis[Random(kHandleSlots)];
    const std::scoped_lock lock(from.mutex, to.mutex);
    const bool before = bool(from.handle);
    if (OneIn(2)) {
        to.handle = from.handle;
        t_notes.counters->Add(Op::HandleAssignments);
    } else {
        to.handle = std::move(from.handle);
        if (from.handle) Violation("a moved-from kind handle is still valid");
        t_notes.counters->Add(Op::HandleMoves);
    }
    if (bool(to.handle) != before) Violation("a kind handle lost its hosted UI on the way to KivManagedUi");
}

void FrameBusStep();

void HandleThreadStep() {
    World& world = TheWorld();
    switch (Random(10)) {
        case 0:
            HandleStep(world.emails, UseEmail, CreateFacade<KivEmail>);
            break;
        case 1:
            HandleStep(world.gpsProviders, UseGps, CreateFacade<ExternalGpsProvider>);
            break;
        case 2:
            HandleStep(world.zipArchives, UseZip, CreateFacade<KivZipArchive>);
            break;
        case 3:
            HandleStep(world.uis, UseUi, CreateAnyKindAs<KivManagedUi>);
            break;
        case 4:
            HandleStep(world.infoBoxes, UseUi, CreateKind<InfoBoxManagedUi>);
            break;
        case 5:
            HandleStep(world.registerBoxes, UseUi, CreateKind<RegisterBoxManagedUi>);
            break;
        case 6:
            HandleStep(world.settingsUis, UseUi, CreateKind<SettingsManagedUi>);
            break;
        case 7:
            HandleStep(world.mapAreas, UseUi, CreateKind<MapAreasManagedUi>);
            break;
        case 8:
            switch (Random(4)) {
                case 0:
                    KindToBase(world.infoBoxes);
                    break;
                case 1:
                    KindToBase(world.registerBoxes);
                    break;
                case 2:
                    KindToBase(world.settingsUis);
                    break;
                default:
                    KindToBase(world.mapAreas);
                    break;
            }
            break;
        default:
            FrameBusStep();
            break;
    }
}

// ---- hosted UIs --------------------------------------------------------------------------------

// One StartUI with fresh host objects, checked against where it was made to fail: runtime
// allocations fail in this order (camera adapter when a camera is given, data, event adapter),
// and the hosted UI raises before keeping anything, after keeping the event adapter, or after
// keeping both.
void StartOnce(KivManagedUi& ui) {
    static char module[64];
    Counters& counters = *t_notes.counters;
    const int me = t_threadNumber;
    auto callback = std::make_unique<StressUiCallback>();
    LifeRecord& callbackLife = callback->Life();
    const bool giveCamera = OneIn(2);
    std::unique_ptr<StressCamera> camera;
    LifeRecord* cameraLife = nullptr;
    if (giveCamera) {
        camera = std::make_unique<StressCamera>();
        cameraLife = &camera->Life();
    }
    const auto plan = static_cast<StartPlan>(u'A' + Random(4));
    const std::string data = std::string(1, static_cast<char>(plan)) + " start data";
    const HINSTANCE resources = OneIn(4) ? nullptr : module + Random(sizeof module);
    t_notes.expectedResources = reinterpret_cast<PointerValue>(resources);
    t_notes.cameraGiven = giveCamera;
    t_notes.uiReached = false;
    const std::uint32_t allocations = giveCamera ? 3 : 2;
    const bool inject = OneIn(2);
    const auto failing = static_cast<std::uint32_t>(Random(allocations + 1));  // == allocations: none fails
    if (inject) {
        FailAllocationAfter(failing);
        counters.Add(Op::FaultsInjected);
    }
    const bool valid = bool(ui);
    const bool started = ui.StartUI(std::move(callback), data, resources, std::move(camera));
    const bool fired = inject && !AllocationFailurePending();
    CancelAllocationFailure();
    counters.Add(Op::StartUi);
    if (started) counters.Add(Op::StartUiTrue);

    if (!valid) {
        if (started || t_notes.uiReached || fired) Violation("StartUI on an empty handle did something");
        if (!callbackLife.DeletedBy(me)) Violation("StartUI on an empty handle kept the callback");
        if (cameraLife && !cameraLife->DeletedBy(me)) Violation("StartUI on an empty handle kept the camera");
        if (cameraLife && callbackLife.deletionOrder.load() > cameraLife->deletionOrder.load())
            Violation("StartUI on an empty handle deleted the camera before the callback");
        return;
    }
    if (t_notes.uiReached == fired) Violation("StartUI reached the hosted UI although an allocation failed, or not");
    if (started != (!fired && plan == StartPlan::Succeed)) Violation("StartUI gave the wrong result");
    if (callbackLife.DeletedBy(me) != fired) Violation("StartUI deleted the callback when it should not, or not");
    if (cameraLife && cameraLife->DeletedBy(me) != (fired && failing == 0))
        Violation("StartUI deleted the camera when it should not, or not");
    if (cameraLife && fired && failing == 0 && callbackLife.deletionOrder.load() > cameraLife->deletionOrder.load())
        Violation("StartUI deleted the camera before the callback");
}

template <class Kind>
void UiStepOfKind(HandlePool<Kind>& pool) {
    HandleSlot<Kind>& slot = pool[Random(kHandleSlots)];
    Kind ui;
    if (OneIn(2)) {
        ui = CreateKind<Kind>();
    } else {
        const std::lock_guard lock(slot.mutex);
        ui = slot.handle;
        t_notes.counters->Add(Op::HandleCopies);
    }
    StartOnce(ui);
    if (OneIn(2)) UseUi(ui);
    if (OneIn(2)) {
        const std::lock_guard lock(slot.mutex);
        slot.handle = std::move(ui);
        t_notes.counters->Add(Op::HandleMoves);
    }
}

void UiThreadStep() {
    World& world = TheWorld();
    switch (Random(4)) {
        case 0:
            UiStepOfKind(world.infoBoxes);
            break;
        case 1:
            UiStepOfKind(world.registerBoxes);
            break;
        case 2:
            UiStepOfKind(world.settingsUis);
            break;
        default:
            UiStepOfKind(world.mapAreas);
            break;
    }
}

// ---- adapters ----------------------------------------------------------------------------------

// Runs `call` and checks that exactly the host's deliberate exception came out, when it was asked
// for and the host was reached.
template <class Call>
void ExpectHostOutcome(Call&& call) {
    const int before = t_notes.hostCalls;
    bool threw = false;
    try {
        call();
    } catch (const std::runtime_error& error) {
        threw = true;
        if (std::strcmp(error.what(), kHostRefused) != 0) Violation(std::string("unexpected error: ") + error.what());
    } catch (const std::exception& error) {
        threw = true;
        Violation(std::string("unexpected error: ") + error.what());
    }
    const bool reached = t_notes.hostCalls != before;
    if (threw != (reached && t_notes.hostShouldThrow)) Violation("a host exception was lost or invented");
}

void EventThreadStep() {
    Counters& counters = *t_notes.counters;
    auto& slot = TheWorld().eventSlots[Random(kAdapterSlots)];
    const EventText& text = EventTexts()[Random(EventTexts().size())];
    t_notes.expectedEvent = text.expected[t_locale];
    t_notes.hostShouldThrow = OneIn(8);
    const String event = text.null ? String() : String(text.units);
    const int before = t_notes.hostCalls;
    const bool called = CallThroughSlot(slot, [&](KivFldCommon::IKivManagedUICallback& adapter) {
        ExpectHostOutcome([&] { adapter.HandleEvent(event); });
    });
    if (!called) return;
    counters.Add(Op::Events);
    if (t_notes.hostCalls != before) counters.Add(Op::EventsDelivered);
}

void CameraThreadStep() {
    Counters& counters = *t_notes.counters;
    auto& slot = TheWorld().cameraSlots[Random(kAdapterSlots)];
    t_notes.hostShouldThrow = OneIn(8);
    const int operation = static_cast<int>(Random(4));
    Ref<StressReceiver> receiver;
    if (operation == 0 && !OneIn(4)) receiver = New<StressReceiver>();
    t_notes.receiverGiven = bool(receiver);
    t_notes.expectedInterval = static_cast<int>(Random(200)) - 20;
    const int before = t_notes.hostCalls;
    const bool called = CallThroughSlot(slot, [&](KivFldCommon::IKivCameraProvider& adapter) {
        ExpectHostOutcome([&] {
            switch (operation) {
                case 0:
                    adapter.StartCapturingFrames(receiver, t_notes.expectedInterval);
                    break;
                case 1:
                    adapter.StopCapturingFrames();
                    break;
                case 2: {
                    t_notes.camerasAnswered = 0;
                    const int cameras = adapter.GetNumberOfCameras();
                    if (cameras != t_notes.camerasAnswered) Violation("GetNumberOfCameras changed the count");
                    break;
                }
                default:
                    adapter.SwitchCamera();
                    break;
            }
        });
    });
    if (!called) return;
    counters.Add(Op::CameraCalls);
    if (t_notes.hostCalls != before) counters.Add(Op::CameraCallsDelivered);
}

// ---- frames ------------------------------------------------------------------------------------

// Delivers a frame (now and then a camera error) on a copy of a published frame callback, or
// copies, moves or drops the published callbacks themselves.
void FrameBusStep() {
    World& world = TheWorld();
    Counters& counters = *t_notes.counters;
    FrameSlot& a = world.frames[Random(kFrameSlots)];
    FrameSlot& b = world.frames[Random(kFrameSlots)];
    const auto operation = Random(8);
    if (operation < 5) {
        KivCameraProviderCallback local;
        LifeRecord* camera = nullptr;
        {
            const std::lock_guard lock(a.mutex);
            local = a.callback;
            camera = a.camera;
        }
        counters.Add(Op::HandleCopies);
        const bool cameraGone = camera && camera->deletions.load() != 0;
        const bool frame = !OneIn(16);
        const bool empty = OneIn(8);
        t_notes.expectedFrameLength = empty ? 0 : static_cast<int>(Random(world.frameBytes.size()) + 1);
        void* address = empty ? nullptr : world.frameBytes.data();
        t_notes.expectedFrameAddress = reinterpret_cast<PointerValue>(address);
        t_notes.componentShouldThrow = OneIn(8);
        const int before = t_notes.framesReceived;
        try {
            if (frame)
                local.HandleFrame(t_notes.expectedFrameLength, address);
            else
                local.HandleError("lens cap on");
        } catch (...) {
            Violation("a frame callback let an error reach the camera");
        }
        t_notes.componentShouldThrow = false;
        const bool reached = t_notes.framesReceived != before;
        if (reached != bool(local)) Violation("a frame callback forwarded when it should not, or not");
        counters.Add(frame ? Op::Frames : Op::FrameErrors);
        if (reached && cameraGone) counters.Add(Op::FramesAfterCameraDeleted);
        return;
    }
    if (&a == &b) return;
    const std::scoped_lock lock(a.mutex, b.mutex);
    if (operation == 5) {
        a.callback = b.callback;
        a.camera = b.camera;
        if (bool(a.callback) != bool(b.callback)) Violation("a copied frame callback differs from its source");
        counters.Add(Op::HandleAssignments);
    } else if (operation == 6) {
        const bool before = bool(b.callback);
        a.callback = std::move(b.callback);
        a.camera = b.camera;
        if (b.callback || bool(a.callback) != before) Violation("a frame callback move went wrong");
        counters.Add(Op::HandleMoves);
    } else {
        a.callback = KivCameraProviderCallback();
        counters.Add(Op::HandleResets);
    }
}

// ---- releasers ---------------------------------------------------------------------------------

template <class Contract>
void DisposeOne(std::array<AdapterSlot<Contract>, kAdapterSlots>& slots) {
    const Ref<Contract> adapter = slots[Random(kAdapterSlots)].Get();
    if (!adapter) return;
    adapter.template Cast<kiv::runtime::IDisposable>()->Dispose();
    t_notes.counters->Add(Op::Disposes);
}

template <class Contract>
void DropOne(std::array<AdapterSlot<Contract>, kAdapterSlots>& slots) {
    using Outcome = typename AdapterSlot<Contract>::Outcome;
    const Outcome outcome = slots[Random(kAdapterSlots)].Replace(nullptr);
    if (outcome == Outcome::Dropped || outcome == Outcome::DroppedDuringCall) t_notes.counters->Add(Op::Drops);
    if (outcome == Outcome::DroppedDuringCall) t_notes.counters->Add(Op::DropsDuringCall);
}

template <class Handle>
void DropHandle(HandlePool<Handle>& pool) {
    HandleSlot<Handle>& slot = pool[Random(kHandleSlots)];
    const std::lock_guard lock(slot.mutex);
    slot.handle = Handle();
    t_notes.counters->Add(Op::HandleResets);
}

void ReleaserStep() {
    World& world = TheWorld();
    switch (Random(10)) {
        case 0:
        case 1:
            DisposeOne(world.eventSlots);
            break;
        case 2:
            DisposeOne(world.cameraSlots);
            break;
        case 3:
        case 4:
            DropOne(world.eventSlots);
            break;
        case 5:
            DropOne(world.cameraSlots);
            break;
        case 6:
            DropHandle(world.uis);
            break;
        case 7:
            switch (Random(4)) {
                case 0:
                    DropHandle(world.infoBoxes);
                    break;
                case 1:
                    DropHandle(world.registerBoxes);
                    break;
                case 2:
                    DropHandle(world.settingsUis);
                    break;
                default:
                    DropHandle(world.mapAreas);
                    break;
            }
            break;
        case 8:
            if (OneIn(4)) {
                kiv::runtime::Collect();
                t_notes.counters->Add(Op::Collections);
            }
            break;
        default:
            Dawdle();
            break;
    }
}

// ---- the run -----------------------------------------------------------------------------------

struct Options {
    double seconds = 5;
    int threadsPerRole = 2;
    std::uint64_t seed = std::random_device{}();
};

bool ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--seconds" && hasValue) {
            options.seconds = std::strtod(argv[++i], nullptr);
        } else if (arg == "--threads-per-role" && hasValue) {
            options.threadsPerRole = std::atoi(argv[++i]);
        } else if (arg == "--seed" && hasValue) {
            options.seed = std::strtoull(argv[++i], nullptr, 10);
        } else {
            std::fprintf(stderr, "usage: %s [--seconds S] [--threads-per-role N] [--seed X]\n", argv[0]);
            return false;
        }
    }
    if (options.seconds <= 0 || options.threadsPerRole < 1 || options.threadsPerRole > 64) {
        std::fprintf(stderr, "--seconds must be positive and --threads-per-role within 1..64\n");
        return false;
    }
    return true;
}

struct ThreadPlan {
    Role role;
    void (*step)();
};

constexpr ThreadPlan kPlans[] = {
    {Role::Handles, HandleThreadStep}, {Role::Ui, UiThreadStep},     {Role::Events, EventThreadStep},
    {Role::Camera, CameraThreadStep},  {Role::Frames, FrameBusStep}, {Role::Releaser, ReleaserStep},
};

void RunThread(const ThreadPlan& plan, int number, std::uint64_t seed, const std::atomic<bool>& stop,
               Counters& counters) {
    t_role = plan.role;
    t_threadNumber = number;
    std::mt19937_64 rng(seed + static_cast<std::uint64_t>(number));
    t_notes.rng = &rng;
    t_notes.counters = &counters;
    t_locale = static_cast<std::size_t>(number) % kLocales.size();
    const kiv::fld::testing::ScopedThreadLocale locale(kLocales[t_locale]);
    if (!locale.Active()) {
        Violation(std::string("locale ") + kLocales[t_locale] + " is not installed");
        return;
    }
    while (!stop.load(std::memory_order_relaxed)) plan.step();
}

template <class Handle>
void Clear(HandlePool<Handle>& pool) {
    for (auto& slot : pool) slot.handle = Handle();
}

// Lets go of everything the threads left behind, then reclaims until nothing is pending.
void ReleaseEverything() {
    World& world = TheWorld();
    for (auto& slot : world.eventSlots) slot.adapter.Reset();
    for (auto& slot : world.cameraSlots) slot.adapter.Reset();
    for (auto& slot : world.frames) slot.callback = KivCameraProviderCallback();
    Clear(world.emails);
    Clear(world.gpsProviders);
    Clear(world.zipArchives);
    Clear(world.uis);
    Clear(world.infoBoxes);
    Clear(world.registerBoxes);
    Clear(world.settingsUis);
    Clear(world.mapAreas);
    // Finalizing a camera adapter deletes the host camera, which lets go of frame callbacks; a
    // few rounds settle every chain.
    for (int round = 0; round < 8; ++round) {
        kiv::runtime::CollectAndWaitForPendingFinalizers();
        if (kiv::runtime::PendingFinalizationCount() == 0) break;
    }
}

struct Tally {
    std::uint64_t created = 0;
    std::uint64_t deleted = 0;
    std::array<std::uint64_t, static_cast<int>(Role::Count)> byRole{};
};

int Run(const Options& options) {
    World& world = TheWorld();
    std::mt19937_64 mainRng(options.seed);
    Counters mainCounters;
    t_notes.rng = &mainRng;
    t_notes.counters = &mainCounters;
    const std::int64_t baseline = kiv::runtime::Object::LiveCount();

    const ClassRegistration email{std::string(KivFldEmail::EmailClient::kLibrary),
                                  std::string(KivFldEmail::EmailClient::kClassName),
                                  ClassRegistration::FactoryOf<StressEmail>()};
    const ClassRegistration gps{std::string(KivFldExternalGpsProvider::KivFldExternalGpsProvider::kLibrary),
                                std::string(KivFldExternalGpsProvider::KivFldExternalGpsProvider::kClassName),
                                ClassRegistration::FactoryOf<StressGps>()};
    const ClassRegistration zip{std::string(KivFldZipArchive::KivZipArchive::kLibrary),
                                std::string(KivFldZipArchive::KivZipArchive::kClassName),
                                ClassRegistration::FactoryOf<StressZip>()};
    std::vector<std::unique_ptr<ClassRegistration>> uiClasses;
    for (const auto& uiClass :
         {KivFldCommon::KivFldInfoBoxManagedUIClass, KivFldRegisterBoxManagedUI::KivFldRegisterBoxManagedUIClass,
          KivFldSettingsManagedUI::KivFldSettingsManagedUIClass, KivFldCommon::KivFldMapAreasManagedUIClass})
        uiClasses.push_back(std::make_unique<ClassRegistration>(std::string(uiClass.library),
                                                                std::string(uiClass.fullClassName),
                                                                ClassRegistration::FactoryOf<StressUi>()));

    const int threadCount = options.threadsPerRole * static_cast<int>(std::size(kPlans));
    std::printf("kivfld_stress: %.1f s, %d threads (%d per role), seed %" PRIu64 "\n", options.seconds, threadCount,
                options.threadsPerRole, options.seed);
    std::atomic<bool> stop{false};
    std::vector<Counters> counters(static_cast<std::size_t>(threadCount));
    std::vector<std::thread> threads;
    for (int i = 0; i < threadCount; ++i) {
        const ThreadPlan& plan = kPlans[static_cast<std::size_t>(i) % std::size(kPlans)];
        threads.emplace_back(RunThread, std::cref(plan), i + 1, options.seed, std::cref(stop),
                             std::ref(counters[static_cast<std::size_t>(i)]));
    }
    std::this_thread::sleep_for(std::chrono::duration<double>(options.seconds));
    stop = true;
    for (auto& thread : threads) thread.join();

    ReleaseEverything();
    const std::int64_t live = kiv::runtime::Object::LiveCount();
    if (live != baseline)
        Violation("component objects still alive after reclamation: " + std::to_string(live - baseline));

    // The books.
    std::array<Tally, static_cast<int>(Kind::Count)> tallies{};
    std::uint64_t leaked = 0, deletedTwice = 0, deletedDuringCall = 0;
    std::array<std::uint64_t, static_cast<int>(Kind::Count)> deferredToCaller{};
    world.ledger.ForEach([&](const LifeRecord& record) {
        Tally& tally = tallies[static_cast<int>(record.kind)];
        ++tally.created;
        const int deletions = record.deletions.load();
        if (deletions == 0) {
            ++leaked;
            return;
        }
        if (deletions > 1) ++deletedTwice;
        if (record.callsAtDeletion.load() != 0) ++deletedDuringCall;
        ++tally.deleted;
        const auto role = static_cast<Role>(record.deletingRole.load());
        ++tally.byRole[static_cast<int>(role)];
        const bool hostObject = record.kind == Kind::UiCallback || record.kind == Kind::Camera;
        if (hostObject && (role == Role::Events || role == Role::Camera))
            ++deferredToCaller[static_cast<int>(record.kind)];
    });
    if (leaked) Violation(std::to_string(leaked) + " objects were never deleted");
    if (deletedTwice) Violation(std::to_string(deletedTwice) + " objects were deleted more than once");
    if (deletedDuringCall) Violation(std::to_string(deletedDuringCall) + " objects were deleted during a call");

    Counters total = mainCounters;
    for (const Counters& c : counters)
        for (std::size_t i = 0; i < total.values.size(); ++i) total.values[i] += c.values[i];
    auto get = [&](Op op) { return total[op]; };
    const std::uint64_t handleOps = get(Op::HandleCopies) + get(Op::HandleMoves) + get(Op::HandleAssignments) +
                                    get(Op::HandleResets) + get(Op::HandleCreations) + get(Op::FailedCreations);
    const std::uint64_t operations = handleOps + get(Op::FacadeCalls) + get(Op::StartUi) + get(Op::UpdateUi) +
                                     get(Op::StopUi) + get(Op::Events) + get(Op::CameraCalls) + get(Op::Frames) +
                                     get(Op::FrameErrors) + get(Op::Disposes) + get(Op::Drops) + get(Op::Collections);
    std::printf("operations: %" PRIu64 "\n", operations);
    std::printf("  handles: %" PRIu64 " (copies %" PRIu64 ", moves %" PRIu64 ", assignments %" PRIu64
                ", resets %" PRIu64 ", created %" PRIu64 ", creations failed on purpose %" PRIu64 ")\n",
                handleOps, get(Op::HandleCopies), get(Op::HandleMoves), get(Op::HandleAssignments),
                get(Op::HandleResets), get(Op::HandleCreations), get(Op::FailedCreations));
    std::printf("  facade calls %" PRIu64 "; StartUI %" PRIu64 " (true %" PRIu64 "), UpdateUI %" PRIu64
                ", StopUI %" PRIu64 "; allocation failures injected %" PRIu64 "\n",
                get(Op::FacadeCalls), get(Op::StartUi), get(Op::StartUiTrue), get(Op::UpdateUi), get(Op::StopUi),
                get(Op::FaultsInjected));
    std::printf("  events %" PRIu64 " (reached the host %" PRIu64 "), camera calls %" PRIu64
                " (reached the host %" PRIu64 "), frames %" PRIu64 ", camera errors %" PRIu64 "\n",
                get(Op::Events), get(Op::EventsDelivered), get(Op::CameraCalls), get(Op::CameraCallsDelivered),
                get(Op::Frames), get(Op::FrameErrors));
    std::printf("  disposes %" PRIu64 ", adapter references dropped %" PRIu64 ", collections %" PRIu64 "\n",
                get(Op::Disposes), get(Op::Drops), get(Op::Collections));
    const std::uint64_t deferred =
        deferredToCaller[static_cast<int>(Kind::UiCallback)] + deferredToCaller[static_cast<int>(Kind::Camera)];
    std::printf("races hit: %" PRIu64 "\n", deferred + get(Op::DropsDuringCall) + get(Op::FramesAfterCameraDeleted));
    std::printf(
        "  release during a host call, deletion left to the call (host object deleted on the calling "
        "thread): %" PRIu64 " (callbacks %" PRIu64 ", cameras %" PRIu64 ")\n",
        deferred, deferredToCaller[static_cast<int>(Kind::UiCallback)],
        deferredToCaller[static_cast<int>(Kind::Camera)]);
    std::printf("  hosted UI let go of an adapter during a host call through it: %" PRIu64 "\n",
                get(Op::DropsDuringCall));
    std::printf("  frames delivered after the camera that got their callback was deleted: %" PRIu64 "\n",
                get(Op::FramesAfterCameraDeleted));
    std::printf("objects created / deleted, and where deleted:\n");
    for (int k = 0; k < static_cast<int>(Kind::Count); ++k) {
        const Tally& tally = tallies[k];
        std::string where;
        for (int r = 0; r < static_cast<int>(Role::Count); ++r) {
            if (!tally.byRole[r]) continue;
            if (!where.empty()) where += ", ";
            where += std::string(RoleName(static_cast<Role>(r))) + " " + std::to_string(tally.byRole[r]);
        }
        std::printf("  %-18s %8" PRIu64 " / %8" PRIu64 "  (%s)\n", KindName(static_cast<Kind>(k)), tally.created,
                    tally.deleted, where.c_str());
    }
    std::printf("runtime objects alive after reclamation: %" PRId64 " (at start %" PRId64 ")\n", live, baseline);
    const std::uint64_t violations = g_violations.load();
    std::printf("violations: %" PRIu64 "\n", violations);
    return violations == 0 ? 0 : 1;
}

}  // namespace
}  // namespace kiv::fld::stress

int main(int argc, char** argv) {
    kiv::fld::stress::Options options;
    if (!kiv::fld::stress::ParseOptions(argc, argv, options)) return 2;
    return kiv::fld::stress::Run(options);
}
