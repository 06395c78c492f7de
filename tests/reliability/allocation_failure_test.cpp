// A failed runtime allocation at each allocation of each exported operation (and of each adapter
// operation the component side calls): every failure gives the operation's failure result, leaks
// no component object, and deletes each host object handed over exactly once.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <iostream>
#include <string>

#include "camera/camera_provider.hpp"
#include "reliability_fixture.hpp"
#include "ui/managed_ui_callback.hpp"

namespace kiv::fld::testing {
namespace {

using kiv::runtime::String;

const std::string kOutOfMemory = "OutOfMemoryError: Insufficient memory to continue the execution of the program.";

// What a factory gave: a handle's validity, or the error it raised.
template <class Create>
std::string Created(Create&& create) {
    try {
        return create() ? "valid handle" : "empty handle";
    } catch (const kiv::runtime::OutOfMemoryError& error) {
        return std::string("OutOfMemoryError: ") + error.what();
    } catch (const std::exception& error) {
        return std::string("other error: ") + error.what();
    }
}

std::string Reached(bool result, std::size_t callsBefore, std::size_t callsAfter) {
    return std::string(result ? "true" : "false") + (callsAfter > callsBefore ? ", called" : ", not called");
}

class AllocationFailure : public ReliabilityTest {
protected:
    struct Case {
        const char* operation;
        // Runs the operation once; `host` supplies host objects for StartUI.
        std::function<std::string(HostObjects& host)> run;
        std::string success;
        std::string failure;
    };

    std::vector<Case> Cases() {
        auto facade = [](auto& record, auto call) {
            return [&record, call](HostObjects&) {
                const std::size_t before = record.calls.size();
                const bool result = call();
                return Reached(result, before, record.calls.size());
            };
        };
        auto ui = [this](auto call) {
            return [this, call](HostObjects& host) {
                const std::size_t before = m_ui.calls.size();
                const bool result = call(host);
                return Reached(result, before, m_ui.calls.size());
            };
        };
        return {
            {"KivEmail::CreateInstance",
             [](HostObjects&) { return Created([] { return bool(KivEmail::CreateInstance()); }); }, "valid handle",
             kOutOfMemory},
            {"ExternalGpsProvider::CreateInstance",
             [](HostObjects&) { return Created([] { return bool(ExternalGpsProvider::CreateInstance()); }); },
             "valid handle", kOutOfMemory},
            {"KivZipArchive::CreateInstance",
             [](HostObjects&) { return Created([] { return bool(KivZipArchive::CreateInstance()); }); }, "valid handle",
             kOutOfMemory},
            {"InfoBoxManagedUi::CreateInstance",
             [](HostObjects&) { return Created([] { return bool(InfoBoxManagedUi::CreateInstance()); }); },
             "valid handle", "empty handle"},
            {"RegisterBoxManagedUi::CreateInstance",
             [](HostObjects&) { return Created([] { return bool(RegisterBoxManagedUi::CreateInstance()); }); },
             "valid handle", "empty handle"},
            {"SettingsManagedUi::CreateInstance",
             [](HostObjects&) { return Created([] { return bool(SettingsManagedUi::CreateInstance()); }); },
             "valid handle", "empty handle"},
            {"MapAreasManagedUi::CreateInstance",
             [](HostObjects&) { return Created([] { return bool(MapAreasManagedUi::CreateInstance()); }); },
             "valid handle", "empty handle"},
            {"KivEmail::SendMail",
             facade(m_mail,
                    [this] {
                        return m_email.SendMail("to@example.org", "subject", "body", {"a.txt", "", "c.txt"});
                    }),
             "true, called", "false, not called"},
            {"ExternalGpsProvider::Invoke", facade(m_gps, [this] { return m_gpsHandle.Invoke("?POLL;") == "answer"; }),
             "true, called", "false, not called"},
            {"KivZipArchive::Open", facade(m_zip, [this] { return m_zipHandle.Open("/data/a.zip", 1); }),
             "true, called", "false, not called"},
            {"KivZipArchive::AddFile", facade(m_zip, [this] { return m_zipHandle.AddFile("/data/in.txt", "in.txt"); }),
             "true, called", "false, not called"},
            {"KivZipArchive::ExtractEntryToFile",
             facade(m_zip, [this] { return m_zipHandle.ExtractEntryToFile("in.txt", "/data/out.txt", true); }),
             "true, called", "false, not called"},
            {"KivZipArchive::GetEntries", facade(m_zip, [this] { return m_zipHandle.GetEntries() == "answer"; }),
             "true, called", "false, not called"},
            {"KivZipArchive::Close", facade(m_zip, [this] { return m_zipHandle.Close(); }), "true, called",
             "false, not called"},
            {"KivManagedUi::StartUI without a camera",
             ui([this](HostObjects& host) { return m_uiHandle.StartUI(host.Callback(), "data", nullptr, nullptr); }),
             "true, called", "false, not called"},
            {"KivManagedUi::StartUI with a camera", ui([this](HostObjects& host) {
                 return m_uiHandle.StartUI(host.Callback(), "data", nullptr, host.Camera());
             }),
             "true, called", "false, not called"},
            {"KivManagedUi::StartUI without a callback",
             ui([this](HostObjects& host) { return m_uiHandle.StartUI(nullptr, "data", nullptr, host.Camera()); }),
             "true, called", "false, not called"},
            {"KivManagedUi::UpdateUI", ui([this](HostObjects&) { return m_uiHandle.UpdateUI("new data"); }),
             "true, called", "false, not called"},
            {"KivManagedUi::StopUI", ui([this](HostObjects&) { return m_uiHandle.StopUI(); }), "true, called",
             "false, not called"},
            {"KivCameraProviderCallback::HandleFrame",
             [this](HostObjects&) {
                 const int before = m_receiver->frameCount;
                 unsigned char frame[4] = {1, 2, 3, 4};
                 m_frames.HandleFrame(4, frame);
                 return m_receiver->frameCount > before ? "delivered" : "not delivered";
             },
             "delivered", "not delivered"},
            {"KivCameraProviderCallback::HandleError",
             [this](HostObjects&) {
                 const std::size_t before = m_receiver->Errors().size();
                 m_frames.HandleError("lens cap on");
                 return m_receiver->Errors().size() > before ? "delivered" : "not delivered";
             },
             "delivered", "not delivered"},
            // The adapters are called by the component side and catch nothing: a failure reaches it.
            {"KivManagedUiCallback::HandleEvent",
             [this](HostObjects&) {
                 const std::size_t before = m_events.Events().size();
                 try {
                     m_eventAdapter->HandleEvent(m_clicked);
                 } catch (const kiv::runtime::OutOfMemoryError& error) {
                     return std::string("OutOfMemoryError: ") + error.what();
                 }
                 return std::string(m_events.Events().size() > before ? "delivered" : "not delivered");
             },
             "delivered", kOutOfMemory},
            {"KivCameraProvider::StartCapturingFrames",
             [this](HostObjects&) {
                 const std::size_t before = m_camera.Calls().size();
                 try {
                     m_cameraAdapter->StartCapturingFrames(m_receiver, 40);
                 } catch (const kiv::runtime::OutOfMemoryError& error) {
                     return std::string("OutOfMemoryError: ") + error.what();
                 }
                 return std::string(m_camera.Calls().size() > before ? "delivered" : "not delivered");
             },
             "delivered", kOutOfMemory},
        };
    }

    AllocationFailure() {
        m_gps.answer = String(u"answer");
        m_zip.answer = String(u"answer");
    }
    ~AllocationFailure() override {
        m_eventAdapter.Reset();
        m_cameraAdapter.Reset();
        kiv::runtime::CollectAndWaitForPendingFinalizers();
        // The frame callbacks the camera kept refer to the fixture's receiver.
        std::lock_guard lock(m_camera.mutex);
        m_camera.callbacks.clear();
    }

    // Made before any allocation is made to fail: the event the hosted UI raises.
    const String m_clicked{u"clicked"};
    EventLog m_events;
    CameraLog m_camera;
    kiv::runtime::Ref<KivFldCommon::IKivManagedUICallback> m_eventAdapter =
        kiv::runtime::New<KivManagedUiCallback>(std::make_unique<RecordingUiCallback>(m_events));
    kiv::runtime::Ref<KivFldCommon::IKivCameraProvider> m_cameraAdapter =
        kiv::runtime::New<KivCameraProvider>(std::make_unique<RecordingCamera>(m_camera));
};

TEST_F(AllocationFailure, EveryOperation_EachAllocationFailing_ReportsFailureLeaksNothingDeletesHostObjectsOnce) {
    for (const Case& c : Cases()) {
        SCOPED_TRACE(c.operation);
        LetGoOfTheAdapters();
        const std::int64_t baseline = kiv::runtime::Object::LiveCount();
        std::string lastOutcome;
        const std::uint32_t allocations = ExpectEveryFailedAllocationReported([&] {
            // FailAllocationAfter is armed already: nothing here may allocate from the runtime
            // before the operation, and nothing after it while the failure may still be pending.
            HostObjects host;
            const std::string outcome = c.run(host);
            const bool failed = !kiv::runtime::testing::AllocationFailurePending();
            EXPECT_EQ(outcome, failed ? c.failure : c.success);
            LetGoOfTheAdapters();
            EXPECT_EQ(kiv::runtime::Object::LiveCount(), baseline) << "component objects leaked";
            EXPECT_EQ(host.events.deletion.Deletions(), host.callbackGiven ? 1 : 0) << "host callback";
            EXPECT_EQ(host.camera.deletion.Deletions(), host.cameraGiven ? 1 : 0) << "host camera";
            lastOutcome = outcome;
            return outcome == c.success;
        });
        std::cout << "[ allocations ] " << c.operation << ": " << allocations << ", last outcome \"" << lastOutcome
                  << "\"\n";
    }
}

}  // namespace
}  // namespace kiv::fld::testing
