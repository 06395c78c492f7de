// One fixture with every exported class wired to an in-process recording component: the three
// facades, the four UI kinds (a recording hosted UI that keeps its adapters), and a frame callback
// over a recording frame receiver. The reliability tests push bad input and failed allocations
// through all of them.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "KivFldCommon/ManagedUIClasses.hpp"
#include "KivFldEmail/EmailClient.hpp"
#include "KivFldExternalGpsProvider/KivFldExternalGpsProvider.hpp"
#include "KivFldRegisterBoxManagedUI/KivFldRegisterBoxManagedUI.hpp"
#include "KivFldSettingsManagedUI/KivFldSettingsManagedUI.hpp"
#include "KivFldZipArchive/KivZipArchive.hpp"
#include "camera/camera_callback_wrapper.hpp"
#include "camera/frame_receiver.hpp"
#include "kiv/fld/camera.hpp"
#include "kiv/fld/email.hpp"
#include "kiv/fld/external_gps_provider.hpp"
#include "kiv/fld/managed_ui.hpp"
#include "kiv/fld/zip_archive.hpp"
#include "kiv/runtime/runtime.hpp"
#include "support/host_doubles.hpp"
#include "support/recording_component.hpp"
#include "ui/test_uis.hpp"

namespace kiv::fld::testing {

/// Every text a facade call handed to its component, in parameter order (list entries last).
struct TextsRecord : ComponentRecord<std::vector<kiv::runtime::String>> {
    /// What the GPS provider answers and the zip archive lists.
    kiv::runtime::String answer;
};

class RecordingEmail final : public KivFldEmail::EmailClient, public Recording<TextsRecord> {
public:
    void SendMail(const kiv::runtime::String& address, const kiv::runtime::String& subject,
                  const kiv::runtime::String& body,
                  const kiv::runtime::Ref<kiv::runtime::List<kiv::runtime::String>>& attachments) override {
        std::vector<kiv::runtime::String> texts{address, subject, body};
        if (attachments) texts.insert(texts.end(), attachments->begin(), attachments->end());
        Note(std::move(texts));
    }
};

// The GPS provider and the zip archive report into a record type of their own each.
struct GpsTextsRecord : TextsRecord {};
struct ZipTextsRecord : TextsRecord {};

class RecordingGps final : public KivFldExternalGpsProvider::KivFldExternalGpsProvider,
                           public Recording<GpsTextsRecord> {
public:
    kiv::runtime::String Invoke(const kiv::runtime::String& request) override {
        Note({request});
        return record->answer;
    }
};

class RecordingZip final : public KivFldZipArchive::KivZipArchive, public Recording<ZipTextsRecord> {
public:
    void Open(const kiv::runtime::String& path, std::int32_t) override { Note({path}); }
    void AddFile(const kiv::runtime::String& path, const kiv::runtime::String& entry) override { Note({path, entry}); }
    void ExtractEntryToFile(const kiv::runtime::String& entry, const kiv::runtime::String& destination, bool) override {
        Note({entry, destination});
    }
    kiv::runtime::String GetEntries() override {
        Note({});
        return record->answer;
    }
    void Close() override { Note({}); }
};

/// The host's two objects for StartUI, with logs that outlive them.
struct HostObjects {
    EventLog events;
    CameraLog camera;
    bool callbackGiven = false;
    bool cameraGiven = false;

    std::unique_ptr<IKivManagedUiCallback> Callback() {
        callbackGiven = true;
        return std::make_unique<RecordingUiCallback>(events);
    }
    std::unique_ptr<IKivCameraProvider> Camera() {
        cameraGiven = true;
        return std::make_unique<RecordingCamera>(camera);
    }
};

class ReliabilityTest : public ::testing::Test {
protected:
    ReliabilityTest() {
        RecordingEmail::record = &m_mail;
        RecordingGps::record = &m_gps;
        RecordingZip::record = &m_zip;
        UiLog::current = &m_ui;
        for (const auto& uiClass :
             {KivFldCommon::KivFldInfoBoxManagedUIClass, KivFldRegisterBoxManagedUI::KivFldRegisterBoxManagedUIClass,
              KivFldSettingsManagedUI::KivFldSettingsManagedUIClass, KivFldCommon::KivFldMapAreasManagedUIClass})
            m_uiClasses.push_back(std::make_unique<kiv::runtime::ClassRegistration>(
                std::string(uiClass.library), std::string(uiClass.fullClassName),
                RecordingUi::Named(std::string(uiClass.fullClassName))));
        m_email = KivEmail::CreateInstance();
        m_gpsHandle = ExternalGpsProvider::CreateInstance();
        m_zipHandle = KivZipArchive::CreateInstance();
        m_uiHandle = InfoBoxManagedUi::CreateInstance();
    }
    ~ReliabilityTest() override {
        m_email = KivEmail();
        m_gpsHandle = ExternalGpsProvider();
        m_zipHandle = KivZipArchive();
        m_uiHandle = InfoBoxManagedUi();
        m_frames = KivCameraProviderCallback();
        m_receiver.Reset();
        LetGoOfTheAdapters();
        UiLog::current = nullptr;
        RecordingEmail::record = nullptr;
        RecordingGps::record = nullptr;
        RecordingZip::record = nullptr;
    }

    /// The hosted UI lets go of every adapter it kept, and the runtime reclaims them.
    void LetGoOfTheAdapters() {
        m_ui.events.clear();
        m_ui.cameras.clear();
        m_ui.calls.clear();
        kiv::runtime::CollectAndWaitForPendingFinalizers();
    }

    TextsRecord m_mail;
    GpsTextsRecord m_gps;
    ZipTextsRecord m_zip;
    UiLog m_ui;
    kiv::runtime::ClassRegistration m_emailClass{std::string(KivFldEmail::EmailClient::kLibrary),
                                                 std::string(KivFldEmail::EmailClient::kClassName),
                                                 kiv::runtime::ClassRegistration::FactoryOf<RecordingEmail>()};
    kiv::runtime::ClassRegistration m_gpsClass{
        std::string(KivFldExternalGpsProvider::KivFldExternalGpsProvider::kLibrary),
        std::string(KivFldExternalGpsProvider::KivFldExternalGpsProvider::kClassName),
        kiv::runtime::ClassRegistration::FactoryOf<RecordingGps>()};
    kiv::runtime::ClassRegistration m_zipClass{std::string(KivFldZipArchive::KivZipArchive::kLibrary),
                                               std::string(KivFldZipArchive::KivZipArchive::kClassName),
                                               kiv::runtime::ClassRegistration::FactoryOf<RecordingZip>()};
    std::vector<std::unique_ptr<kiv::runtime::ClassRegistration>> m_uiClasses;

    KivEmail m_email;
    ExternalGpsProvider m_gpsHandle;
    KivZipArchive m_zipHandle;
    InfoBoxManagedUi m_uiHandle;
    kiv::runtime::Ref<RecordingReceiver> m_receiver = kiv::runtime::New<RecordingReceiver>();
    KivCameraProviderCallback m_frames{std::make_shared<KivCameraProviderCallbackWrapper>(m_receiver)};
};

}  // namespace kiv::fld::testing
