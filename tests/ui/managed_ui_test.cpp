// KivManagedUi and its kinds: what reaches the hosted UI, which host object is deleted when, where
// and in which order on every way StartUI can end, and which class each kind's factory creates.
#include "kiv/fld/managed_ui.hpp"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "KivFldCommon/ManagedUIClasses.hpp"
#include "KivFldRegisterBoxManagedUI/KivFldRegisterBoxManagedUI.hpp"
#include "KivFldSettingsManagedUI/KivFldSettingsManagedUI.hpp"
#include "kiv/runtime/runtime.hpp"
#include "support/host_doubles.hpp"
#include "support/text.hpp"
#include "support/thread_locale.hpp"
#include "test_uis.hpp"
#include "ui/managed_ui_wrapper.hpp"

namespace kiv::fld {
namespace {

using kiv::fld::testing::CameraLog;
using kiv::fld::testing::EventLog;
using kiv::fld::testing::RecordingCamera;
using kiv::fld::testing::RecordingUi;
using kiv::fld::testing::RecordingUiCallback;
using kiv::fld::testing::UiLog;
using kiv::fld::testing::Units;
using kiv::runtime::PointerValue;
using kiv::runtime::String;

const std::thread::id kTestThread = std::this_thread::get_id();

void CollectAndWait() { kiv::runtime::CollectAndWaitForPendingFinalizers(); }

void Dispose(const kiv::runtime::Ref<kiv::runtime::Object>& adapter) {
    adapter.Cast<kiv::runtime::IDisposable>()->Dispose();
}

// Every way a handle can be invalid. Needs a registered info box class.
std::vector<std::pair<const char*, KivManagedUi>> InvalidUiHandles() {
    InfoBoxManagedUi source = InfoBoxManagedUi::CreateInstance();
    const InfoBoxManagedUi target = std::move(source);
    std::vector<std::pair<const char*, KivManagedUi>> handles;
    handles.emplace_back("default-constructed", KivManagedUi());
    handles.emplace_back("default-constructed kind", InfoBoxManagedUi());
    handles.emplace_back("moved-from kind", source);
    handles.emplace_back("null wrapper", KivManagedUi(std::shared_ptr<KivManagedUiWrapper>()));
    handles.emplace_back("empty root", KivManagedUi(std::make_shared<KivManagedUiWrapper>(nullptr)));
    return handles;
}

// The host's two objects for one StartUI, with the logs that outlive them.
struct HostObjects {
    EventLog events;
    CameraLog camera;

    std::unique_ptr<IKivManagedUiCallback> Callback() { return std::make_unique<RecordingUiCallback>(events); }
    std::unique_ptr<IKivCameraProvider> Camera() { return std::make_unique<RecordingCamera>(camera); }
};

// Installs a UiLog and makes RecordingUi the info box; every adapter a test UI still holds is let
// go and finalized before the host logs end.
class ManagedUi : public ::testing::Test {
protected:
    ManagedUi() {
        UiLog::current = &m_ui;
        m_handle = InfoBoxManagedUi::CreateInstance();
    }
    ~ManagedUi() override {
        m_ui.events.clear();
        m_ui.cameras.clear();
        m_handle = InfoBoxManagedUi();
        CollectAndWait();
        UiLog::current = nullptr;
    }

    HostObjects m_host;
    UiLog m_ui;
    kiv::runtime::ClassRegistration m_registration{std::string(KivFldCommon::KivFldInfoBoxManagedUIClass.library),
                                                   std::string(KivFldCommon::KivFldInfoBoxManagedUIClass.fullClassName),
                                                   RecordingUi::Named("info box")};
    InfoBoxManagedUi m_handle;
};

TEST_F(ManagedUi, StartUiHandsTheHostedUiBothAdaptersTheDataAndTheResources) {
    static int moduleStandIn = 0;
    const HINSTANCE resources = &moduleStandIn;
    m_host.camera.numberOfCameras = 4;
    ASSERT_TRUE(m_handle);
    ASSERT_TRUE(m_handle.StartUI(m_host.Callback(), "start data", resources, m_host.Camera()));

    ASSERT_EQ(m_ui.calls.size(), 1u);
    const auto& call = m_ui.calls[0];
    EXPECT_EQ(call.operation, "StartUI");
    EXPECT_EQ(Units(call.data), u"start data");
    EXPECT_EQ(call.resources, reinterpret_cast<PointerValue>(resources));
    ASSERT_TRUE(call.eventsGiven);
    ASSERT_TRUE(call.cameraGiven);
    // The adapters stand for the host's own objects.
    m_ui.events[0]->HandleEvent(String(u"clicked"));
    EXPECT_EQ(m_host.events.Events(), std::vector<std::string>{"clicked"});
    EXPECT_EQ(m_ui.cameras[0]->GetNumberOfCameras(), 4);
    EXPECT_TRUE(m_ui.events[0].As<kiv::runtime::IDisposable>());
    EXPECT_TRUE(m_ui.cameras[0].As<kiv::runtime::IDisposable>());
    EXPECT_EQ(m_host.events.deletion.Deletions(), 0);
    EXPECT_EQ(m_host.camera.deletion.Deletions(), 0);
}

TEST_F(ManagedUi, StartUiCarriesTheResourcesUnchanged) {
    static char module[16];
    struct Case {
        const char* name;
        HINSTANCE resources;
        PointerValue expected;
    };
    const Case cases[] = {
        {"null", nullptr, 0},
        {"module address", module, reinterpret_cast<PointerValue>(module)},
        {"odd address", module + 3, reinterpret_cast<PointerValue>(module + 3)},
        {"highest address", reinterpret_cast<HINSTANCE>(UINTPTR_MAX), static_cast<PointerValue>(-1)},
    };
    for (const Case& c : cases) ASSERT_TRUE(m_handle.StartUI(m_host.Callback(), "x", c.resources, nullptr));
    ASSERT_EQ(m_ui.calls.size(), std::size(cases));
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(m_ui.calls[i].resources, cases[i].expected);
    }
}

TEST_F(ManagedUi, StartUiCreatesACameraAdapterOnlyForAGivenCamera) {
    struct Case {
        const char* name;
        bool withCamera;
        std::int64_t newObjects;
    };
    const Case cases[] = {{"without camera", false, 1}, {"with camera", true, 2}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HostObjects host;
        CollectAndWait();
        const std::int64_t before = kiv::runtime::Object::LiveCount();
        ASSERT_TRUE(m_handle.StartUI(host.Callback(), "data", nullptr, c.withCamera ? host.Camera() : nullptr));
        EXPECT_EQ(kiv::runtime::Object::LiveCount() - before, c.newObjects) << "the adapters the UI now holds";
        EXPECT_EQ(m_ui.calls.back().cameraGiven, c.withCamera);
        EXPECT_EQ(bool(m_ui.cameras.back()), c.withCamera);
        m_ui.events.clear();
        m_ui.cameras.clear();
        CollectAndWait();
    }
}

TEST_F(ManagedUi, EmptyDataArrivesAsAnEmptyTextNeverNull) {
    ASSERT_TRUE(m_handle.StartUI(m_host.Callback(), "", nullptr, nullptr));
    ASSERT_TRUE(m_handle.UpdateUI(""));
    ASSERT_EQ(m_ui.calls.size(), 2u);
    for (const auto& call : m_ui.calls) {
        SCOPED_TRACE(call.operation);
        EXPECT_FALSE(call.data.IsNull());
        EXPECT_EQ(call.data.Length(), 0);
    }
}

TEST_F(ManagedUi, DataIsConvertedFromTheThreadCodePage) {
    const kiv::fld::testing::ScopedThreadLocale latin1(kiv::fld::testing::kLatin1Locale);
    ASSERT_TRUE(m_handle.StartUI(m_host.Callback(),
                                 "Gr\xFC\xDF"
                                 "e",
                                 nullptr, nullptr));
    ASSERT_TRUE(
        m_handle.UpdateUI("Stra\xDF"
                          "e"));
    ASSERT_EQ(m_ui.calls.size(), 2u);
    EXPECT_EQ(Units(m_ui.calls[0].data),
              u"Gr\u00FC\u00DF"
              u"e");
    EXPECT_EQ(Units(m_ui.calls[1].data),
              u"Stra\u00DF"
              u"e");
}

TEST_F(ManagedUi, StartUiWithoutACallbackStillPassesAnEventAdapterThatDropsEvents) {
    ASSERT_TRUE(m_handle.StartUI(nullptr, "data", nullptr, nullptr));
    ASSERT_EQ(m_ui.calls.size(), 1u);
    EXPECT_TRUE(m_ui.calls[0].eventsGiven);
    ASSERT_TRUE(m_ui.events[0]);
    EXPECT_NO_THROW(m_ui.events[0]->HandleEvent(String(u"nobody listens")));
    EXPECT_NO_THROW(Dispose(m_ui.events[0]));
}

TEST_F(ManagedUi, TwoStartsBothReachTheHostedUiWithAPairOfAdaptersEach) {
    HostObjects second;
    ASSERT_TRUE(m_handle.StartUI(m_host.Callback(), "first", nullptr, m_host.Camera()));
    ASSERT_TRUE(m_handle.StartUI(second.Callback(), "second", nullptr, second.Camera()));
    ASSERT_EQ(m_ui.calls.size(), 2u);
    EXPECT_EQ(m_ui.calls[0].ui, m_ui.calls[1].ui);
    EXPECT_EQ(Units(m_ui.calls[1].data), u"second");
    EXPECT_NE(m_ui.events[0], m_ui.events[1]);
    EXPECT_NE(m_ui.cameras[0], m_ui.cameras[1]);
    m_ui.events[1]->HandleEvent(String(u"to the second host"));
    EXPECT_TRUE(m_host.events.Events().empty());
    EXPECT_EQ(second.events.Events(), std::vector<std::string>{"to the second host"});
    m_ui.events.clear();
    m_ui.cameras.clear();
    CollectAndWait();
}

TEST_F(ManagedUi, StopUiAndUpdateUiReachTheHostedUiAndReleaseNoAdapter) {
    ASSERT_TRUE(m_handle.StartUI(m_host.Callback(), "data", nullptr, m_host.Camera()));
    ASSERT_TRUE(m_handle.UpdateUI("more"));
    ASSERT_TRUE(m_handle.StopUI());
    ASSERT_TRUE(m_handle.StopUI());
    ASSERT_EQ(m_ui.calls.size(), 4u);
    EXPECT_EQ(m_ui.calls[1].operation, "UpdateUI");
    EXPECT_EQ(Units(m_ui.calls[1].data), u"more");
    EXPECT_EQ(m_ui.calls[2].operation, "StopUI");
    EXPECT_EQ(m_ui.calls[3].operation, "StopUI");
    EXPECT_TRUE(m_handle) << "stopping leaves the handle valid";
    m_handle = InfoBoxManagedUi();
    CollectAndWait();
    EXPECT_EQ(m_host.events.deletion.Deletions(), 0) << "the UI still holds the event adapter";
    EXPECT_EQ(m_host.camera.deletion.Deletions(), 0) << "the UI still holds the camera adapter";
}

TEST_F(ManagedUi, RaisingUiMakesEveryOperationReturnFalse) {
    const auto raising =
        kiv::fld::testing::RegisterUi<kiv::fld::testing::RaisingUi>(KivFldCommon::KivFldInfoBoxManagedUIClass);
    InfoBoxManagedUi ui = InfoBoxManagedUi::CreateInstance();
    ASSERT_TRUE(ui);
    EXPECT_FALSE(ui.StartUI(m_host.Callback(), "data", nullptr, nullptr));
    EXPECT_FALSE(ui.UpdateUI("data"));
    EXPECT_FALSE(ui.StopUI());
    ASSERT_EQ(m_ui.calls.size(), 3u) << "every operation reached the UI";
    EXPECT_TRUE(ui);
}

TEST_F(ManagedUi, InvalidHandlesReachNoUi) {
    for (auto& [name, handle] : InvalidUiHandles()) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(handle);
        EXPECT_FALSE(handle.UpdateUI("data"));
        EXPECT_FALSE(handle.StopUI());
    }
    EXPECT_TRUE(m_ui.calls.empty());
}

TEST_F(ManagedUi, UpdateUiWhoseDataCannotBeConvertedReachesNoUi) {
    kiv::runtime::testing::FailNextAllocation();
    EXPECT_FALSE(m_handle.UpdateUI("data"));
    EXPECT_FALSE(kiv::runtime::testing::AllocationFailurePending());
    EXPECT_TRUE(m_ui.calls.empty());
    EXPECT_TRUE(m_handle.UpdateUI("data"));
}

TEST_F(ManagedUi, AKivManagedUiCopiedFromAKindControlsTheSameHostedUi) {
    KivManagedUi copy = m_handle;
    KivManagedUi moved = InfoBoxManagedUi(m_handle);
    ASSERT_TRUE(copy.StartUI(m_host.Callback(), "via the copy", nullptr, nullptr));
    ASSERT_TRUE(m_handle.UpdateUI("via the kind"));
    ASSERT_TRUE(moved.StopUI());
    EXPECT_EQ(m_ui.constructed, 1);
    ASSERT_EQ(m_ui.calls.size(), 3u);
    EXPECT_EQ(m_ui.calls[0].ui, m_ui.calls[1].ui);
    EXPECT_EQ(m_ui.calls[1].ui, m_ui.calls[2].ui);
}

TEST_F(ManagedUi, EventsRaisedInsideStartUiReachTheHostBeforeStartUiReturns) {
    const auto raising =
        kiv::fld::testing::RegisterUi<kiv::fld::testing::EventRaisingUi>(KivFldCommon::KivFldInfoBoxManagedUIClass);
    m_ui.eventsToRaise = {String(), String::Empty(), String(u"ready")};
    InfoBoxManagedUi ui = InfoBoxManagedUi::CreateInstance();
    ASSERT_TRUE(ui.StartUI(m_host.Callback(), "data", nullptr, nullptr));
    EXPECT_EQ(m_host.events.Events(), (std::vector<std::string>{"", "", "ready"}));
}

TEST_F(ManagedUi, AHostExceptionTheUiLetsTravelOnGivesFalseAndEscapesNothing) {
    const auto raising =
        kiv::fld::testing::RegisterUi<kiv::fld::testing::EventRaisingUi>(KivFldCommon::KivFldInfoBoxManagedUIClass);
    m_ui.eventsToRaise = {String(u"save")};
    m_host.events.raise = "host dialog closed";
    InfoBoxManagedUi ui = InfoBoxManagedUi::CreateInstance();
    bool started = true, updated = true, stopped = true;
    EXPECT_NO_THROW(started = ui.StartUI(m_host.Callback(), "data", nullptr, nullptr));
    EXPECT_NO_THROW(updated = ui.UpdateUI("data"));
    EXPECT_NO_THROW(stopped = ui.StopUI());
    EXPECT_FALSE(started);
    EXPECT_FALSE(updated);
    EXPECT_FALSE(stopped);
    EXPECT_EQ(m_host.events.Events().size(), 3u) << "the event reached the host each time";
}

TEST_F(ManagedUi, AHostExceptionReachesTheUiWithItsText) {
    const auto raising =
        kiv::fld::testing::RegisterUi<kiv::fld::testing::EventRaisingUi>(KivFldCommon::KivFldInfoBoxManagedUIClass);
    m_ui.eventsToRaise = {String(u"save"), String(u"close")};
    m_ui.catchEventErrors = true;
    m_host.events.raise = "host dialog closed";
    InfoBoxManagedUi ui = InfoBoxManagedUi::CreateInstance();
    EXPECT_TRUE(ui.StartUI(m_host.Callback(), "data", nullptr, nullptr));
    EXPECT_EQ(m_ui.caughtEventErrors, (std::vector<std::string>{"host dialog closed", "host dialog closed"}));
    EXPECT_EQ(m_host.events.Events(), (std::vector<std::string>{"save", "close"}))
        << "after the first exception the next event still arrived";
}

// ---- Who deletes which host object, when StartUI ends in each possible way ----

TEST_F(ManagedUi, InvalidHandleDeletesTheCallbackThenTheCameraBeforeReturning) {
    for (auto& [name, handle] : InvalidUiHandles()) {
        SCOPED_TRACE(name);
        HostObjects host;
        EXPECT_FALSE(handle.StartUI(host.Callback(), "data", nullptr, host.Camera()));
        EXPECT_EQ(host.events.deletion.Deletions(), 1);
        EXPECT_EQ(host.camera.deletion.Deletions(), 1);
        EXPECT_EQ(host.events.deletion.Thread(), kTestThread);
        EXPECT_EQ(host.camera.deletion.Thread(), kTestThread);
        EXPECT_LT(host.events.deletion.Sequence(), host.camera.deletion.Sequence()) << "callback first";
    }
    EXPECT_TRUE(m_ui.calls.empty());
}

TEST_F(ManagedUi, NoCameraAdapterDeletesTheCallbackThenTheCameraBeforeReturning) {
    kiv::runtime::testing::FailAllocationAfter(0);  // the camera adapter
    EXPECT_FALSE(m_handle.StartUI(m_host.Callback(), "data", nullptr, m_host.Camera()));
    EXPECT_FALSE(kiv::runtime::testing::AllocationFailurePending());
    EXPECT_EQ(m_host.events.deletion.Deletions(), 1);
    EXPECT_EQ(m_host.camera.deletion.Deletions(), 1);
    EXPECT_EQ(m_host.camera.deletion.Thread(), kTestThread);
    EXPECT_LT(m_host.events.deletion.Sequence(), m_host.camera.deletion.Sequence());
    EXPECT_TRUE(m_ui.calls.empty());
}

TEST_F(ManagedUi, FailedDataConversionDeletesTheCallbackNowAndTheCameraWithItsAdapter) {
    kiv::runtime::testing::FailAllocationAfter(1);  // the camera adapter succeeds, the data fails
    EXPECT_FALSE(m_handle.StartUI(m_host.Callback(), "data", nullptr, m_host.Camera()));
    EXPECT_FALSE(kiv::runtime::testing::AllocationFailurePending());
    EXPECT_TRUE(m_ui.calls.empty());
    EXPECT_EQ(m_host.events.deletion.Deletions(), 1) << "never reached an adapter";
    EXPECT_EQ(m_host.events.deletion.Thread(), kTestThread);
    EXPECT_EQ(m_host.camera.deletion.Deletions(), 0) << "inside the camera adapter";
    CollectAndWait();
    EXPECT_EQ(m_host.camera.deletion.Deletions(), 1);
    EXPECT_TRUE(m_host.camera.deletion.OnFinalizerThread());
}

TEST_F(ManagedUi, FailedDataConversionWithoutCameraDeletesTheCallbackBeforeReturning) {
    kiv::runtime::testing::FailAllocationAfter(0);  // the data
    EXPECT_FALSE(m_handle.StartUI(m_host.Callback(), "data", nullptr, nullptr));
    EXPECT_FALSE(kiv::runtime::testing::AllocationFailurePending());
    EXPECT_TRUE(m_ui.calls.empty());
    EXPECT_EQ(m_host.events.deletion.Deletions(), 1);
    EXPECT_EQ(m_host.events.deletion.Thread(), kTestThread);
}

TEST_F(ManagedUi, NoEventAdapterDeletesTheCallbackNowAndTheCameraWithItsAdapter) {
    kiv::runtime::testing::FailAllocationAfter(2);  // camera adapter and data succeed, the event adapter fails
    EXPECT_FALSE(m_handle.StartUI(m_host.Callback(), "data", nullptr, m_host.Camera()));
    EXPECT_FALSE(kiv::runtime::testing::AllocationFailurePending());
    EXPECT_TRUE(m_ui.calls.empty());
    EXPECT_EQ(m_host.events.deletion.Deletions(), 1);
    EXPECT_EQ(m_host.events.deletion.Thread(), kTestThread);
    EXPECT_EQ(m_host.camera.deletion.Deletions(), 0);
    CollectAndWait();
    EXPECT_EQ(m_host.camera.deletion.Deletions(), 1);
    EXPECT_TRUE(m_host.camera.deletion.OnFinalizerThread());
}

TEST_F(ManagedUi, RaisingStartUiDeletesNeitherBeforeReturningBothWhenTheAdaptersAreReclaimed) {
    const auto raising =
        kiv::fld::testing::RegisterUi<kiv::fld::testing::RaisingUi>(KivFldCommon::KivFldInfoBoxManagedUIClass);
    InfoBoxManagedUi ui = InfoBoxManagedUi::CreateInstance();
    EXPECT_FALSE(ui.StartUI(m_host.Callback(), "data", nullptr, m_host.Camera()));
    ASSERT_EQ(m_ui.calls.size(), 1u) << "the UI was called";
    EXPECT_EQ(m_host.events.deletion.Deletions(), 0);
    EXPECT_EQ(m_host.camera.deletion.Deletions(), 0);
    CollectAndWait();
    EXPECT_EQ(m_host.events.deletion.Deletions(), 1);
    EXPECT_EQ(m_host.camera.deletion.Deletions(), 1);
    EXPECT_TRUE(m_host.events.deletion.OnFinalizerThread());
    EXPECT_TRUE(m_host.camera.deletion.OnFinalizerThread());
}

TEST_F(ManagedUi, RaisingStartUiThatKeptTheAdaptersLeavesTheDeletionsToTheirRelease) {
    m_ui.raise = true;
    EXPECT_FALSE(m_handle.StartUI(m_host.Callback(), "data", nullptr, m_host.Camera()));
    m_ui.raise = false;
    CollectAndWait();
    EXPECT_EQ(m_host.events.deletion.Deletions(), 0);
    EXPECT_EQ(m_host.camera.deletion.Deletions(), 0);
    Dispose(m_ui.events[0]);
    Dispose(m_ui.cameras[0]);
    EXPECT_EQ(m_host.events.deletion.Deletions(), 1);
    EXPECT_EQ(m_host.camera.deletion.Deletions(), 1);
    EXPECT_EQ(m_host.events.deletion.Thread(), kTestThread);
    EXPECT_EQ(m_host.camera.deletion.Thread(), kTestThread);
}

TEST_F(ManagedUi, SuccessfulStartUiLeavesBothHostObjectsToTheHostedUi) {
    EXPECT_TRUE(m_handle.StartUI(m_host.Callback(), "data", nullptr, m_host.Camera()));
    CollectAndWait();
    EXPECT_EQ(m_host.events.deletion.Deletions(), 0);
    EXPECT_EQ(m_host.camera.deletion.Deletions(), 0);
    // The UI disposes of the event adapter and simply drops the camera adapter.
    Dispose(m_ui.events[0]);
    EXPECT_EQ(m_host.events.deletion.Deletions(), 1);
    EXPECT_EQ(m_host.events.deletion.Thread(), kTestThread);
    m_ui.cameras.clear();
    CollectAndWait();
    EXPECT_EQ(m_host.camera.deletion.Deletions(), 1);
    EXPECT_TRUE(m_host.camera.deletion.OnFinalizerThread());
    m_ui.events.clear();
    CollectAndWait();
    EXPECT_EQ(m_host.events.deletion.Deletions(), 1);
}

// ---- Factories ----

struct Kind {
    const char* name;
    KivFldCommon::ManagedUIClassName uiClass;
    std::function<KivManagedUi()> create;
};

std::vector<Kind> Kinds() {
    return {
        {"InfoBoxManagedUi", KivFldCommon::KivFldInfoBoxManagedUIClass,
         [] { return InfoBoxManagedUi::CreateInstance(); }},
        {"RegisterBoxManagedUi", KivFldRegisterBoxManagedUI::KivFldRegisterBoxManagedUIClass,
         [] { return RegisterBoxManagedUi::CreateInstance(); }},
        {"SettingsManagedUi", KivFldSettingsManagedUI::KivFldSettingsManagedUIClass,
         [] { return SettingsManagedUi::CreateInstance(); }},
        {"MapAreasManagedUi", KivFldCommon::KivFldMapAreasManagedUIClass,
         [] { return MapAreasManagedUi::CreateInstance(); }},
    };
}

class ManagedUiFactory : public ::testing::Test {
protected:
    ManagedUiFactory() { UiLog::current = &m_ui; }
    ~ManagedUiFactory() override { UiLog::current = nullptr; }

    // Registers a RecordingUi named after its kind for every kind but `except`.
    std::vector<std::unique_ptr<kiv::runtime::ClassRegistration>> RegisterKinds(const char* except = nullptr) {
        std::vector<std::unique_ptr<kiv::runtime::ClassRegistration>> registrations;
        for (const Kind& kind : Kinds()) {
            if (except && std::string(kind.name) == except) continue;
            registrations.push_back(std::make_unique<kiv::runtime::ClassRegistration>(
                std::string(kind.uiClass.library), std::string(kind.uiClass.fullClassName),
                RecordingUi::Named(kind.name)));
        }
        return registrations;
    }

    UiLog m_ui;
};

TEST_F(ManagedUiFactory, EachKindCreatesExactlyItsClass) {
    const auto registrations = RegisterKinds();
    for (const Kind& kind : Kinds()) {
        SCOPED_TRACE(kind.name);
        KivManagedUi ui = kind.create();
        ASSERT_TRUE(ui);
        ASSERT_TRUE(ui.StopUI());
        EXPECT_EQ(m_ui.calls.back().uiClass, kind.name);
    }
    EXPECT_EQ(m_ui.constructed, 4);
}

TEST_F(ManagedUiFactory, EachKindIsEmptyWhenItsClassIsMissing) {
    // The sample UI libraries are built beside the runtime; look elsewhere.
    const kiv::runtime::testing::ScopedProbingFolders nowhere({"/nonexistent"});
    for (const Kind& kind : Kinds()) {
        SCOPED_TRACE(kind.name);
        const auto registrations = RegisterKinds(kind.name);
        KivManagedUi ui;
        EXPECT_NO_THROW(ui = kind.create());
        EXPECT_FALSE(ui);
        EXPECT_FALSE(ui.StartUI(nullptr, "data", nullptr, nullptr));
    }
    EXPECT_EQ(m_ui.constructed, 0);
}

TEST_F(ManagedUiFactory, EachKindIsEmptyWhenItsUiCannotBeCreated) {
    using kiv::runtime::ClassFactory;
    using kiv::runtime::ClassRegistration;
    struct Cause {
        const char* name;
        ClassFactory factory;
        bool failAllocation;
    };
    const Cause causes[] = {
        {"raising constructor", ClassRegistration::FactoryOf<kiv::fld::testing::NoDisplayUi>(), false},
        {"no IKivManagedUI", ClassRegistration::FactoryOf<kiv::fld::testing::NotAUi>(), false},
        {"out of memory", RecordingUi::Named("never"), true},
    };
    for (const Kind& kind : Kinds()) {
        for (const Cause& cause : causes) {
            SCOPED_TRACE(::testing::Message() << kind.name << ", " << cause.name);
            const ClassRegistration registration(std::string(kind.uiClass.library),
                                                 std::string(kind.uiClass.fullClassName), cause.factory);
            if (cause.failAllocation) kiv::runtime::testing::FailNextAllocation();
            KivManagedUi ui;
            EXPECT_NO_THROW(ui = kind.create());
            EXPECT_FALSE(ui);
            EXPECT_FALSE(kiv::runtime::testing::AllocationFailurePending());
        }
    }
    EXPECT_EQ(m_ui.constructed, 0);
}

}  // namespace
}  // namespace kiv::fld
