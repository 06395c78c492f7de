// The exported classes as a host sees them: only the public headers and the shared library.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "kiv/fld/kivfld.hpp"

namespace {

using namespace kiv::fld;

template <class Handle>
class EveryHandle : public ::testing::Test {};

using Handles = ::testing::Types<KivEmail, ExternalGpsProvider, KivZipArchive, KivManagedUi, InfoBoxManagedUi,
                                 RegisterBoxManagedUi, SettingsManagedUi, MapAreasManagedUi, KivCameraProviderCallback>;
TYPED_TEST_SUITE(EveryHandle, Handles);

TYPED_TEST(EveryHandle, EmptyHandlesCopyMoveAndAssignAsEmpty) {
    static_assert(sizeof(TypeParam) == sizeof(std::shared_ptr<void>), "a handle is one shared_ptr");
    TypeParam empty;
    EXPECT_FALSE(empty);
    TypeParam copy(empty);
    EXPECT_FALSE(copy);
    TypeParam moved(std::move(copy));
    EXPECT_FALSE(moved);
    copy = moved;
    moved = std::move(copy);
    const TypeParam& alias = moved;
    moved = alias;  // self-assignment
    EXPECT_FALSE(moved);
}

TEST(PublicApi, OperationsOnEmptyHandlesReportFailure) {
    EXPECT_FALSE(KivEmail().SendMail("a", "b", "c", {"d"}));
    EXPECT_EQ(ExternalGpsProvider().Invoke("?VERSION;"), "");
    KivZipArchive zip;
    EXPECT_FALSE(zip.Open("/tmp/x.zip", 1));
    EXPECT_FALSE(zip.AddFile("/tmp/a", "a"));
    EXPECT_FALSE(zip.ExtractEntryToFile("a", "/tmp/a", true));
    EXPECT_EQ(zip.GetEntries(), std::nullopt);
    EXPECT_FALSE(zip.Close());
    KivManagedUi ui;
    EXPECT_FALSE(ui.StopUI());
    EXPECT_FALSE(ui.UpdateUI("data"));
    KivCameraProviderCallback callback;
    callback.HandleFrame(0, nullptr);
    callback.HandleError("error");
}

// Records the order in which the bridge deletes the host objects it was given.
struct DeletionLog {
    std::vector<std::string> deleted;
};

class LoggedCallback final : public IKivManagedUiCallback {
public:
    explicit LoggedCallback(DeletionLog& log) : m_log(log) {}
    ~LoggedCallback() override { m_log.deleted.push_back("callback"); }
    void HandleEvent(const std::string&) override {}

private:
    DeletionLog& m_log;
};

class LoggedCamera final : public IKivCameraProvider {
public:
    explicit LoggedCamera(DeletionLog& log) : m_log(log) {}
    ~LoggedCamera() override { m_log.deleted.push_back("camera"); }
    bool StartCapturingFrames(std::unique_ptr<KivCameraProviderCallback>, int) override { return true; }
    bool StopCapturingFrames() override { return true; }
    int GetNumberOfCameras() override { return 1; }
    bool SwitchCamera() override { return true; }

private:
    DeletionLog& m_log;
};

TEST(PublicApi, StartUiOnAnEmptyHandleDeletesTheCallbackThenTheCamera) {
    DeletionLog log;
    EXPECT_FALSE(MapAreasManagedUi().StartUI(std::make_unique<LoggedCallback>(log), "data", nullptr,
                                             std::make_unique<LoggedCamera>(log)));
    EXPECT_EQ(log.deleted, (std::vector<std::string>{"callback", "camera"}));
}

TEST(PublicApi, FacadeFactoriesFindTheirComponentLibrariesOnDisk) {
    EXPECT_TRUE(KivEmail::CreateInstance());
    EXPECT_TRUE(ExternalGpsProvider::CreateInstance());
}

TEST(PublicApi, HandleCopiesMayBeDroppedOnAnyThread) {
    KivEmail email = KivEmail::CreateInstance();
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([email] {
            for (int i = 0; i < 1000; ++i) {
                KivEmail copy = email;
                EXPECT_TRUE(copy);
            }
        });
    for (auto& thread : threads) thread.join();
    EXPECT_TRUE(email);
}

}  // namespace
