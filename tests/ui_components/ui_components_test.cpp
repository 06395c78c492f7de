// The four sample UI libraries driven as a host drives them: through the public UI kinds, with a
// recording event callback and, for the map-areas UI, a camera that delivers frames on threads of
// its own. This program does not link the UI libraries; the runtime loads them from disk.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "common/crc32.hpp"
#include "kiv/fld/managed_ui.hpp"
#include "kiv/runtime/collector.hpp"
#include "support/host_doubles.hpp"
#include "support/thread_locale.hpp"
#include "threaded_camera.hpp"

namespace kiv::fld {
namespace {

using kiv::fld::testing::CameraScript;
using kiv::fld::testing::DeletionRecord;
using kiv::fld::testing::ScopedThreadLocale;
using kiv::fld::testing::ScriptedFrame;
using kiv::fld::testing::ThreadedCamera;

// Bounds every wait, so that a hang fails the test instead of blocking it.
constexpr auto kPatience = std::chrono::seconds(30);

/// Everything a host callback saw; outlives the callback.
struct EventRecord {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> events;
    std::set<std::thread::id> threads;
    bool deleted = false;
    DeletionRecord deletion;
    /// HandleEvent throws std::runtime_error("host refused <event>") for this event text.
    std::string throwOn;
    /// Runs inside HandleEvent after the event is recorded. Set before the callback is handed over.
    std::function<void(const std::string&)> onEvent;

    std::vector<std::string> Events() {
        std::lock_guard lock(mutex);
        return events;
    }
    std::set<std::thread::id> Threads() {
        std::lock_guard lock(mutex);
        return threads;
    }
    bool WaitForEvent(const std::string& event) {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, kPatience,
                                [&] { return std::find(events.begin(), events.end(), event) != events.end(); });
    }
    bool WaitForDeletion() {
        std::unique_lock lock(mutex);
        return changed.wait_for(lock, kPatience, [&] { return deleted; });
    }
};

class RecordingCallback final : public IKivManagedUiCallback {
public:
    explicit RecordingCallback(EventRecord& record) : m_record(record) {}
    ~RecordingCallback() override {
        m_record.deletion.Record(0);
        // Notified under the lock: a waiter that sees the deletion may end the record at once.
        std::lock_guard lock(m_record.mutex);
        m_record.deleted = true;
        m_record.changed.notify_all();
    }

    void HandleEvent(const std::string& data) override {
        {
            std::lock_guard lock(m_record.mutex);
            m_record.events.push_back(data);
            m_record.threads.insert(std::this_thread::get_id());
            m_record.changed.notify_all();
        }
        if (m_record.onEvent) m_record.onEvent(data);
        if (data == m_record.throwOn) throw std::runtime_error("host refused " + data);
    }

private:
    EventRecord& m_record;
};

std::unique_ptr<IKivManagedUiCallback> Callback(EventRecord& record) {
    return std::make_unique<RecordingCallback>(record);
}

std::unique_ptr<IKivCameraProvider> Camera(CameraScript& script) { return std::make_unique<ThreadedCamera>(script); }

/// Redirects standard output into a file while it lives; Finish gives what was written.
class CapturedStdout {
public:
    CapturedStdout() {
        std::fflush(stdout);
        m_saved = ::dup(STDOUT_FILENO);
        m_file = std::tmpfile();
        ::dup2(::fileno(m_file), STDOUT_FILENO);
    }
    ~CapturedStdout() { Finish(); }
    CapturedStdout(const CapturedStdout&) = delete;
    CapturedStdout& operator=(const CapturedStdout&) = delete;

    std::string Finish() {
        if (!m_file) return m_text;
        std::fflush(stdout);
        ::dup2(m_saved, STDOUT_FILENO);
        ::close(m_saved);
        std::rewind(m_file);
        char buffer[4096];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, m_file)) > 0;) m_text.append(buffer, n);
        std::fclose(m_file);
        m_file = nullptr;
        return m_text;
    }

private:
    int m_saved = -1;
    std::FILE* m_file = nullptr;
    std::string m_text;
};

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        lines.push_back(text.substr(start, end - start));
    if (start < text.size()) lines.push_back(text.substr(start));
    return lines;
}

bool LibraryLoaded(const std::string& library) {
    std::ifstream maps("/proc/self/maps");
    const std::string text((std::istreambuf_iterator<char>(maps)), std::istreambuf_iterator<char>());
    return text.find("/lib" + library + ".so") != std::string::npos;
}

// ---------------------------------------------------------------------------------------------
// What every UI kind does alike.

struct UiKind {
    const char* name;
    const char* library;
    KivManagedUi (*create)();
    const char* startData;
    /// UpdateUI data that makes the UI raise `updateEvent`, numbered so that updates differ.
    std::string (*update)(int number);
    std::string (*updateEvent)(int number);
};

const UiKind kKinds[] = {
    {"InfoBox", "KivFldInfoBoxManagedUI", [] { return KivManagedUi(InfoBoxManagedUi::CreateInstance()); }, "Hello",
     [](int n) { return "text " + std::to_string(n); }, [](int) { return std::string("updated"); }},
    {"RegisterBox", "KivFldRegisterBoxManagedUI", [] { return KivManagedUi(RegisterBoxManagedUi::CreateInstance()); },
     "name=Ada", [](int n) { return "field" + std::to_string(n) + "=x"; },
     [](int n) { return "added:field" + std::to_string(n) + "=x"; }},
    {"Settings", "KivFldSettingsManagedUI", [] { return KivManagedUi(SettingsManagedUi::CreateInstance()); }, "gps=on",
     [](int n) { return "option" + std::to_string(n) + "=off"; },
     [](int n) { return "added:option" + std::to_string(n) + "=off"; }},
    {"MapAreas", "KivFldMapAreasManagedUI", [] { return KivManagedUi(MapAreasManagedUi::CreateInstance()); },
     "harbour=north quay", [](int n) { return "area" + std::to_string(n) + "=field"; },
     [](int n) { return "added:area" + std::to_string(n) + "=field"; }},
};

void PrintTo(const UiKind& kind, std::ostream* out) { *out << kind.name; }

class EveryUiKind : public ::testing::TestWithParam<UiKind> {
protected:
    ~EveryUiKind() override { kiv::runtime::CollectAndWaitForPendingFinalizers(); }

    const UiKind& m_kind = GetParam();
    EventRecord m_record;
};

TEST_P(EveryUiKind, HostCreateInstancexLibraryOnDiskxLoadedAndValid) {
    const KivManagedUi ui = m_kind.create();
    EXPECT_TRUE(ui);
    EXPECT_TRUE(LibraryLoaded(m_kind.library)) << "the runtime loads lib" << m_kind.library << ".so from disk";
}

TEST_P(EveryUiKind, HostStartStopxRunningUixEventsOnOneUiThreadAndCallbackDeletedThereOnce) {
    KivManagedUi ui = m_kind.create();
    ASSERT_TRUE(ui.StartUI(Callback(m_record), m_kind.startData, nullptr, nullptr));
    ASSERT_TRUE(ui.StopUI());

    // StopUI returns after the UI thread raised its last event and released the adapters.
    const std::vector<std::string> events = m_record.Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front(), "shown");
    EXPECT_EQ(events.back(), "closed");
    const std::set<std::thread::id> threads = m_record.Threads();
    ASSERT_EQ(threads.size(), 1u) << "one UI thread raises every event";
    EXPECT_NE(*threads.begin(), std::this_thread::get_id());
    EXPECT_EQ(m_record.deletion.Deletions(), 1);
    EXPECT_EQ(m_record.deletion.Thread(), *threads.begin()) << "the UI thread disposes of the event adapter";
    EXPECT_FALSE(m_record.deletion.OnFinalizerThread());
}

TEST_P(EveryUiKind, HostDropsLastHandlexRunningUixClosedJoinedAndCallbackDeletedOnce) {
    KivManagedUi ui = m_kind.create();
    ASSERT_TRUE(ui.StartUI(Callback(m_record), m_kind.startData, nullptr, nullptr));
    ui = KivManagedUi();

    EXPECT_EQ(m_record.deletion.Deletions(), 1) << "the UI's end waits for its thread";
    const std::vector<std::string> events = m_record.Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.back(), "closed");
}

TEST_P(EveryUiKind, HostStartUIxAlreadyRunningxFalseAndOnlyTheSecondCallbackDeleted) {
    KivManagedUi ui = m_kind.create();
    EventRecord second;
    ASSERT_TRUE(ui.StartUI(Callback(m_record), m_kind.startData, nullptr, nullptr));
    EXPECT_FALSE(ui.StartUI(Callback(second), m_kind.startData, nullptr, nullptr));
    EXPECT_EQ(second.deletion.Deletions(), 1) << "a refused start releases what it was given at once";
    EXPECT_EQ(m_record.deletion.Deletions(), 0);

    ASSERT_TRUE(ui.UpdateUI(m_kind.update(1)));
    ASSERT_TRUE(ui.StopUI());
    const std::vector<std::string> events = m_record.Events();
    EXPECT_NE(std::find(events.begin(), events.end(), m_kind.updateEvent(1)), events.end());
    EXPECT_EQ(events.back(), "closed");
    EXPECT_TRUE(second.Events().empty());
    EXPECT_EQ(m_record.deletion.Deletions(), 1);
}

TEST_P(EveryUiKind, HostStartUIxAfterStopxRunsAgainWithTheNewCallback) {
    KivManagedUi ui = m_kind.create();
    EventRecord second;
    ASSERT_TRUE(ui.StartUI(Callback(m_record), m_kind.startData, nullptr, nullptr));
    ASSERT_TRUE(ui.StopUI());
    ASSERT_TRUE(ui.StartUI(Callback(second), m_kind.startData, nullptr, nullptr));
    ASSERT_TRUE(ui.StopUI());

    EXPECT_EQ(m_record.deletion.Deletions(), 1);
    EXPECT_EQ(second.deletion.Deletions(), 1);
    const std::vector<std::string> events = second.Events();
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.front(), "shown");
    EXPECT_EQ(events.back(), "closed");
}

TEST_P(EveryUiKind, HostUpdateAndStopxNotRunningxUpdateFalseStopTrue) {
    KivManagedUi ui = m_kind.create();
    EXPECT_FALSE(ui.UpdateUI(m_kind.update(1))) << "before the first start";
    EXPECT_TRUE(ui.StopUI()) << "stopping a stopped UI is no failure";
    ASSERT_TRUE(ui.StartUI(Callback(m_record), m_kind.startData, nullptr, nullptr));
    ASSERT_TRUE(ui.StopUI());
    EXPECT_FALSE(ui.UpdateUI(m_kind.update(2))) << "after the stop";
    EXPECT_TRUE(ui.StopUI());
}

TEST_P(EveryUiKind, UiEventxHostThrowsxLaterEventsStillDelivered) {
    m_record.throwOn = "shown";
    KivManagedUi ui = m_kind.create();
    ASSERT_TRUE(ui.StartUI(Callback(m_record), m_kind.startData, nullptr, nullptr));
    ASSERT_TRUE(ui.UpdateUI(m_kind.update(1)));
    ASSERT_TRUE(ui.StopUI());

    const std::vector<std::string> events = m_record.Events();
    EXPECT_NE(std::find(events.begin(), events.end(), m_kind.updateEvent(1)), events.end());
    EXPECT_EQ(events.back(), "closed");
    EXPECT_EQ(m_record.deletion.Deletions(), 1);
}

TEST_P(EveryUiKind, UiEventxHostStopsTheUiInsideAnEventxUiClosesWithoutDeadlock) {
    KivManagedUi ui = m_kind.create();
    std::atomic<int> stopResult{-1};
    KivManagedUi copy = ui;
    m_record.onEvent = [&stopResult, copy](const std::string& event) mutable {
        if (event == "shown") stopResult = copy.StopUI() ? 1 : 0;
    };
    ASSERT_TRUE(ui.StartUI(Callback(m_record), m_kind.startData, nullptr, nullptr));

    ASSERT_TRUE(m_record.WaitForDeletion());
    EXPECT_EQ(stopResult.load(), 1);
    EXPECT_EQ(m_record.Events().back(), "closed");
    EXPECT_FALSE(ui.UpdateUI(m_kind.update(1))) << "the UI has stopped";
    m_record.onEvent = nullptr;
}

TEST_P(EveryUiKind, UiEventxHostUpdatesInsideAnEventxUpdateAppliedAfterThatEvent) {
    KivManagedUi ui = m_kind.create();
    std::atomic<int> updateResult{-1};
    KivManagedUi copy = ui;
    const std::string update = m_kind.update(7);
    m_record.onEvent = [&updateResult, copy, update](const std::string& event) mutable {
        if (event == "shown") updateResult = copy.UpdateUI(update) ? 1 : 0;
    };
    ASSERT_TRUE(ui.StartUI(Callback(m_record), m_kind.startData, nullptr, nullptr));
    ASSERT_TRUE(m_record.WaitForEvent(m_kind.updateEvent(7)));
    ASSERT_TRUE(ui.StopUI());

    EXPECT_EQ(updateResult.load(), 1);
    const std::vector<std::string> events = m_record.Events();
    const auto shown = std::find(events.begin(), events.end(), "shown");
    const auto updated = std::find(events.begin(), events.end(), m_kind.updateEvent(7));
    EXPECT_LT(shown, updated);
    m_record.onEvent = nullptr;
}

TEST_P(EveryUiKind, HostUpdateUIxFromSeveralThreadsxEveryUpdateAppliedOnce) {
    KivManagedUi ui = m_kind.create();
    ASSERT_TRUE(ui.StartUI(Callback(m_record), m_kind.startData, nullptr, nullptr));
    constexpr int kThreads = 4;
    constexpr int kUpdatesPerThread = 10;
    std::vector<std::thread> threads;
    std::atomic<int> failures{0};
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            KivManagedUi copy = ui;
            for (int i = 0; i < kUpdatesPerThread; ++i) {
                if (!copy.UpdateUI(m_kind.update(t * kUpdatesPerThread + i))) ++failures;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    ASSERT_TRUE(ui.StopUI());

    EXPECT_EQ(failures.load(), 0);
    const std::vector<std::string> events = m_record.Events();
    for (int n = 0; n < kThreads * kUpdatesPerThread; ++n) {
        SCOPED_TRACE(n);
        EXPECT_EQ(std::count(events.begin(), events.end(), m_kind.updateEvent(n)),
                  m_kind.updateEvent(0) == m_kind.updateEvent(1) ? kThreads * kUpdatesPerThread : 1);
    }
}

TEST_P(EveryUiKind, HostEventTextxThreadLocalexEventsInTheCodePageOfTheStartingThread) {
    // An update whose text is the only non-ASCII part: the field or area value, or the info box text.
    struct Case {
        const char* locale;
        std::string value;  // in that locale's code page
    };
    const Case cases[] = {{kiv::fld::testing::kUtf8Locale, "Z\xC3\xBCrich"},
                          {kiv::fld::testing::kLatin1Locale, "Z\xFCrich"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.locale);
        EventRecord record;
        const ScopedThreadLocale locale(c.locale);
        ASSERT_TRUE(locale.Active());
        KivManagedUi ui = m_kind.create();
        ASSERT_TRUE(ui.StartUI(Callback(record), m_kind.startData, nullptr, nullptr));
        const std::string update = m_kind.update(1);
        const std::string expected = m_kind.updateEvent(1);
        // The info box raises "updated" whatever its text; the others echo the value.
        const bool echoes = expected != "updated";
        const std::string data = echoes ? update.substr(0, update.find('=') + 1) + c.value : c.value;
        ASSERT_TRUE(ui.UpdateUI(data));
        ASSERT_TRUE(ui.StopUI());
        const std::vector<std::string> events = record.Events();
        const std::string wanted = echoes ? expected.substr(0, expected.find('=') + 1) + c.value : expected;
        EXPECT_NE(std::find(events.begin(), events.end(), wanted), events.end()) << ::testing::PrintToString(events);
    }
}

INSTANTIATE_TEST_SUITE_P(UiComponents, EveryUiKind, ::testing::ValuesIn(kKinds),
                         [](const ::testing::TestParamInfo<UiKind>& info) { return std::string(info.param.name); });

// ---------------------------------------------------------------------------------------------
// The info box.

TEST(InfoBoxUi, HostStartUIxTextxFramedBoxOnStandardOutput) {
    EventRecord record;
    CapturedStdout output;
    InfoBoxManagedUi ui = InfoBoxManagedUi::CreateInstance();
    ASSERT_TRUE(ui.StartUI(Callback(record), "Hello\nworld!", nullptr, nullptr));
    ASSERT_TRUE(ui.UpdateUI("Bye"));
    ASSERT_TRUE(ui.StopUI());
    const std::vector<std::string> lines = Lines(output.Finish());

    // The test runs in the C locale, so the frame is drawn in ASCII.
    const std::vector<std::string> expected = {
        "[info-box] +- Info -+", "[info-box] | Hello  |", "[info-box] | world! |", "[info-box] +--------+",
        "[info-box] +- Info -+", "[info-box] | Bye    |", "[info-box] +--------+", "[info-box] closed",
    };
    EXPECT_EQ(lines, expected);
    EXPECT_EQ(record.Events(), (std::vector<std::string>{"shown", "updated", "closed"}));
}

TEST(InfoBoxUi, HostStartUIxUtf8LocalexBoxDrawingFrame) {
    EventRecord record;
    CapturedStdout output;
    {
        const ScopedThreadLocale locale(kiv::fld::testing::kUtf8Locale);
        ASSERT_TRUE(locale.Active());
        InfoBoxManagedUi ui = InfoBoxManagedUi::CreateInstance();
        ASSERT_TRUE(ui.StartUI(Callback(record),
                               "Gr\xC3\xBC\xC3\x9F"
                               "e",
                               nullptr, nullptr));
        ASSERT_TRUE(ui.StopUI());
    }
    const std::vector<std::string> lines = Lines(output.Finish());
    const std::vector<std::string> expected = {
        "[info-box] \xE2\x94\x8C\xE2\x94\x80 Info \xE2\x94\x80\xE2\x94\x90",
        "[info-box] \xE2\x94\x82 Gr\xC3\xBC\xC3\x9F"
        "e  \xE2\x94\x82",
        "[info-box] \xE2\x94\x94\xE2\x94\x80\xE2\x94\x80\xE2\x94\x80\xE2\x94\x80\xE2\x94\x80\xE2\x94\x80\xE2\x94\x80"
        "\xE2\x94\x80\xE2\x94\x98",
        "[info-box] closed",
    };
    EXPECT_EQ(lines, expected);
}

TEST(InfoBoxUi, HostStartUIxTerminalControlSequencesInTextxShownHarmless) {
    EventRecord record;
    CapturedStdout output;
    InfoBoxManagedUi ui = InfoBoxManagedUi::CreateInstance();
    ASSERT_TRUE(ui.StartUI(Callback(record), "\x1b[2J\x1b]0;pwned\x07wiped\rover", nullptr, nullptr));
    ASSERT_TRUE(ui.StopUI());
    const std::string text = output.Finish();

    EXPECT_EQ(text.find('\x1b'), std::string::npos);
    EXPECT_EQ(text.find('\x07'), std::string::npos);
    EXPECT_EQ(text.find('\r'), std::string::npos);
    EXPECT_NE(text.find("| ?[2J?]0;pwned?wiped?over |"), std::string::npos) << text;
}

// ---------------------------------------------------------------------------------------------
// The register box and the settings UI.

struct FieldsCase {
    const char* name;
    const char* start;
    std::vector<std::string> updates;
    /// Events between "shown" and "closed".
    std::vector<std::string> expected;
};

const FieldsCase kFieldsCases[] = {
    {"changed value", "name=Ada\nphone=1", {"phone=2"}, {"changed:phone=2"}},
    {"same value raises nothing", "name=Ada\nphone=1", {"name=Ada"}, {}},
    {"new key is added", "name=Ada", {"email=ada@example.org"}, {"added:email=ada@example.org"}},
    {"several in update order",
     "name=Ada\nphone=1",
     {"phone=3\nname=Grace\nfax=9"},
     {"changed:phone=3", "changed:name=Grace", "added:fax=9"}},
    {"one update after another", "phone=1", {"phone=2", "phone=3", "phone=3"}, {"changed:phone=2", "changed:phone=3"}},
    {"blanks, CRLF, comments, '=' in the value",
     "note=a",
     {"# a comment\r\n\r\n  note =  b=c  \r\n"},
     {"changed:note=b=c"}},
    {"empty value", "note=a", {"note="}, {"changed:note="}},
    {"empty start data", "", {"first=1"}, {"added:first=1"}},
    {"empty update", "name=Ada", {""}, {}},
};

const UiKind& FieldsKind(const char* name) {
    return *std::find_if(std::begin(kKinds), std::end(kKinds),
                         [&](const UiKind& kind) { return std::string(kind.name) == name; });
}

TEST(FieldsUi, HostUpdateUIxFieldChangesxOneEventPerAddedOrChangedField) {
    for (const char* kindName : {"RegisterBox", "Settings"}) {
        const UiKind& kind = FieldsKind(kindName);
        for (const FieldsCase& c : kFieldsCases) {
            SCOPED_TRACE(std::string(kindName) + ": " + c.name);
            EventRecord record;
            KivManagedUi ui = kind.create();
            ASSERT_TRUE(ui.StartUI(Callback(record), c.start, nullptr, nullptr));
            for (const std::string& update : c.updates) EXPECT_TRUE(ui.UpdateUI(update));
            ASSERT_TRUE(ui.StopUI());
            std::vector<std::string> expected = {"shown"};
            expected.insert(expected.end(), c.expected.begin(), c.expected.end());
            expected.push_back("closed");
            EXPECT_EQ(record.Events(), expected);
        }
    }
}

struct RefusedDataCase {
    const char* name;
    const char* data;
};

const RefusedDataCase kRefusedFieldData[] = {
    {"line without '='", "name=Ada\nphone"},
    {"empty key", " = value"},
    {"control character in the key", "na\x01me=Ada"},
};

TEST(FieldsUi, HostStartUIxRefusedDataxFalseAndCallbackDeletedBeforeItReturns) {
    for (const char* kindName : {"RegisterBox", "Settings"}) {
        for (const RefusedDataCase& c : kRefusedFieldData) {
            SCOPED_TRACE(std::string(kindName) + ": " + c.name);
            EventRecord record;
            KivManagedUi ui = FieldsKind(kindName).create();
            EXPECT_FALSE(ui.StartUI(Callback(record), c.data, nullptr, nullptr));
            EXPECT_EQ(record.deletion.Deletions(), 1);
            EXPECT_EQ(record.deletion.Thread(), std::this_thread::get_id());
            EXPECT_TRUE(record.Events().empty());
        }
    }
}

TEST(FieldsUi, HostUpdateUIxRefusedDataxFalseNothingChangesAndTheUiGoesOn) {
    for (const char* kindName : {"RegisterBox", "Settings"}) {
        for (const RefusedDataCase& c : kRefusedFieldData) {
            SCOPED_TRACE(std::string(kindName) + ": " + c.name);
            EventRecord record;
            KivManagedUi ui = FieldsKind(kindName).create();
            ASSERT_TRUE(ui.StartUI(Callback(record), "name=Ada", nullptr, nullptr));
            // Refused as a whole: the valid line before the bad one is not applied either.
            EXPECT_FALSE(ui.UpdateUI(std::string("name=Grace\n") + c.data));
            EXPECT_TRUE(ui.UpdateUI("name=Lin"));
            ASSERT_TRUE(ui.StopUI());
            EXPECT_EQ(record.Events(), (std::vector<std::string>{"shown", "changed:name=Lin", "closed"}));
        }
    }
}

TEST(FieldsUi, HostStartUIxFieldsxRegisterFormAndSettingsCheckBoxesOnStandardOutput) {
    struct Case {
        const char* kind;
        const char* data;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"RegisterBox",
         "name=Ada\nemail=ada@example.org",
         {"[register-box] +- Register -------------+", "[register-box] | name:  Ada             |",
          "[register-box] | email: ada@example.org |", "[register-box] +------------------------+",
          "[register-box] changed  name: Grace", "[register-box] closed"}},
        {"Settings",
         "gps=on\nlogging=False\nunits=metric",
         {"[settings] +- Settings ----------+", "[settings] | [x] gps (on)        |",
          "[settings] | [ ] logging (False) |", "[settings] |     units = metric  |",
          "[settings] +---------------------+", "[settings] changed  [ ] gps (off)", "[settings] closed"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        EventRecord record;
        CapturedStdout output;
        KivManagedUi ui = FieldsKind(c.kind).create();
        ASSERT_TRUE(ui.StartUI(Callback(record), c.data, nullptr, nullptr));
        ASSERT_TRUE(ui.UpdateUI(std::string(c.kind) == "Settings" ? "gps=off" : "name=Grace"));
        ASSERT_TRUE(ui.StopUI());
        EXPECT_EQ(Lines(output.Finish()), c.expected);
    }
}

// ---------------------------------------------------------------------------------------------
// The map-areas UI and the host's camera.

std::uint32_t Crc(const std::string& bytes) {
    return kivfld::components::Crc32(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}

std::string FramesEvent(std::uint64_t received, std::uint64_t rejected, std::uint64_t bytes, std::uint32_t checksum) {
    char text[160];
    std::snprintf(text, sizeof text, "frames:received=%llu rejected=%llu bytes=%llu checksum=%08x",
                  static_cast<unsigned long long>(received), static_cast<unsigned long long>(rejected),
                  static_cast<unsigned long long>(bytes), static_cast<unsigned>(checksum));
    return text;
}

std::string Pattern(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + seed) & 0xFF);
    return bytes;
}

class MapAreasUiTest : public ::testing::Test {
protected:
    ~MapAreasUiTest() override { kiv::runtime::CollectAndWaitForPendingFinalizers(); }

    bool Start(const std::string& data) { return m_ui.StartUI(Callback(m_record), data, nullptr, Camera(m_camera)); }
    bool EventSeen(const std::string& event) {
        const std::vector<std::string> events = m_record.Events();
        return std::find(events.begin(), events.end(), event) != events.end();
    }

    EventRecord m_record;
    CameraScript m_camera;
    MapAreasManagedUi m_ui = MapAreasManagedUi::CreateInstance();
};

TEST_F(MapAreasUiTest, CameraFramesxScriptedFramesxStatisticsCountBytesAndChecksum) {
    struct Case {
        const char* name;
        std::vector<ScriptedFrame> frames;
        int deliveryThreads;
        std::uint64_t received, rejected, bytes;
        std::uint32_t checksum;
    };
    const std::string big = Pattern(100000, 3);
    const Case cases[] = {
        {"three frames", {{"abc"}, {""}, {big}}, 1, 3, 0, 3 + big.size(), Crc("abc") + Crc("") + Crc(big)},
        {"negative length and missing address are refused unread",
         {{"xyz", -5}, {"", 10, true}, {"ok"}, {"", 0, true}},
         1,
         2,
         2,
         2,
         Crc("ok") + Crc("")},
        {"two camera threads at once", {{"abc"}, {big}}, 2, 4, 0, 2 * (3 + big.size()), 2 * (Crc("abc") + Crc(big))},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EventRecord record;
        CameraScript camera;
        camera.frames = c.frames;
        camera.deliveryThreads = c.deliveryThreads;
        KivManagedUi ui = MapAreasManagedUi::CreateInstance();
        ASSERT_TRUE(ui.StartUI(Callback(record), "frame_interval=25\nreport_interval=0", nullptr, Camera(camera)));
        ASSERT_TRUE(camera.WaitForDeliveries(camera.DeliveriesPerCapture()));
        ASSERT_TRUE(ui.UpdateUI("action=report_frames"));
        const std::string expected = FramesEvent(c.received, c.rejected, c.bytes, c.checksum);
        EXPECT_EQ(record.Events().back(), expected);
        ASSERT_TRUE(ui.StopUI());

        // The statistics again as the last report before the close.
        const std::vector<std::string> events = record.Events();
        ASSERT_GE(events.size(), 3u);
        EXPECT_EQ(events[events.size() - 3], "capture-stopped");
        EXPECT_EQ(events[events.size() - 2], expected);
        EXPECT_EQ(events.back(), "closed");
        EXPECT_EQ(camera.Intervals(), std::vector<int>{25});
    }
}

TEST_F(MapAreasUiTest, HostStartStopxCameraxCountedStartedStoppedAndDeletedOnTheUiThreadOnce) {
    m_camera.numberOfCameras = 3;
    m_camera.frames = {{"frame"}};
    ASSERT_TRUE(Start("harbour=north quay\nfield=east\nreport_interval=0"));
    ASSERT_TRUE(m_camera.WaitForDeliveries(1));
    ASSERT_TRUE(m_ui.StopUI());

    EXPECT_EQ(m_camera.Calls(),
              (std::vector<std::string>{"GetNumberOfCameras", "StartCapturingFrames", "StopCapturingFrames"}));
    EXPECT_EQ(m_record.Events(),
              (std::vector<std::string>{"shown", "cameras:3", "capturing:interval=100", "capture-stopped",
                                        FramesEvent(1, 0, 5, Crc("frame")), "closed"}));
    EXPECT_EQ(m_camera.deletion.Deletions(), 1);
    EXPECT_EQ(m_camera.deletion.Thread(), *m_record.Threads().begin());
    EXPECT_EQ(m_record.deletion.Deletions(), 1);
}

TEST_F(MapAreasUiTest, HostDropsLastHandlexCapturingxCaptureStoppedAndCameraDeletedOnce) {
    m_camera.frames = {{"frame"}};
    ASSERT_TRUE(Start(""));
    ASSERT_TRUE(m_camera.WaitForDeliveries(1));
    m_ui = MapAreasManagedUi();

    EXPECT_EQ(m_camera.Calls().back(), "StopCapturingFrames");
    EXPECT_EQ(m_camera.deletion.Deletions(), 1);
    EXPECT_EQ(m_record.deletion.Deletions(), 1);
    EXPECT_EQ(m_record.Events().back(), "closed");
}

TEST_F(MapAreasUiTest, HostUpdateUIxSwitchCameraActionxCameraSwitchedAndEventRaised) {
    ASSERT_TRUE(Start(""));
    ASSERT_TRUE(m_ui.UpdateUI("action=switch_camera\naction=switch_camera"));
    const std::vector<std::string> calls = m_camera.Calls();
    EXPECT_EQ(std::count(calls.begin(), calls.end(), "SwitchCamera"), 2);
    EXPECT_EQ(m_record.Events().back(), "camera-switched");
    ASSERT_TRUE(m_ui.StopUI());
}

TEST_F(MapAreasUiTest, HostUpdateUIxNewFrameIntervalxCaptureRestartedAtTheNewInterval) {
    ASSERT_TRUE(Start("frame_interval=40"));
    ASSERT_TRUE(m_ui.UpdateUI("frame_interval=40"));
    ASSERT_TRUE(m_ui.UpdateUI("frame_interval=15"));
    ASSERT_TRUE(m_ui.StopUI());

    EXPECT_EQ(m_camera.Intervals(), (std::vector<int>{40, 15}));
    EXPECT_EQ(m_camera.Calls(),
              (std::vector<std::string>{"GetNumberOfCameras", "StartCapturingFrames", "StopCapturingFrames",
                                        "StartCapturingFrames", "StopCapturingFrames"}));
    EXPECT_TRUE(EventSeen("capturing:interval=15"));
}

TEST_F(MapAreasUiTest, CameraErrorxHandleErrorxCameraErrorEvent) {
    m_camera.errors = {"lens cap on", ""};
    ASSERT_TRUE(Start(""));
    ASSERT_TRUE(m_camera.WaitForDeliveries(2));
    ASSERT_TRUE(m_record.WaitForEvent("camera-error:"));
    ASSERT_TRUE(m_ui.StopUI());
    EXPECT_TRUE(EventSeen("camera-error:lens cap on"));
}

TEST_F(MapAreasUiTest, CameraStartxHostCameraThrowsxCameraErrorEventAndTheUiGoesOn) {
    m_camera.startRaises = "camera busy";
    ASSERT_TRUE(Start("harbour=north"));
    ASSERT_TRUE(m_ui.UpdateUI("harbour=south"));
    ASSERT_TRUE(m_ui.StopUI());

    EXPECT_EQ(m_record.Events(), (std::vector<std::string>{"shown", "cameras:2", "camera-error:camera busy",
                                                           "changed:harbour=south", "closed"}));
    EXPECT_EQ(m_camera.deletion.Deletions(), 1);
}

TEST_F(MapAreasUiTest, HostStartUIxNoCamerasCountedxNoCaptureStarted) {
    for (const int count : {0, -1}) {
        SCOPED_TRACE(count);
        EventRecord record;
        CameraScript camera;
        camera.numberOfCameras = count;
        KivManagedUi ui = MapAreasManagedUi::CreateInstance();
        ASSERT_TRUE(ui.StartUI(Callback(record), "", nullptr, Camera(camera)));
        ASSERT_TRUE(ui.StopUI());
        EXPECT_EQ(camera.Calls(), std::vector<std::string>{"GetNumberOfCameras"});
        EXPECT_EQ(record.Events(), (std::vector<std::string>{"shown", "cameras:" + std::to_string(count), "closed"}));
        EXPECT_EQ(camera.deletion.Deletions(), 1);
    }
}

TEST_F(MapAreasUiTest, HostStartUIxNoCameraxNoCameraEventAndSwitchingReportsIt) {
    ASSERT_TRUE(m_ui.StartUI(Callback(m_record), "", nullptr, nullptr));
    ASSERT_TRUE(m_ui.UpdateUI("action=switch_camera"));
    ASSERT_TRUE(m_ui.UpdateUI("action=report_frames"));
    ASSERT_TRUE(m_ui.StopUI());
    EXPECT_EQ(m_record.Events(),
              (std::vector<std::string>{"shown", "no-camera", "no-camera", FramesEvent(0, 0, 0, 0), "closed"}));
}

TEST_F(MapAreasUiTest, UiTickxReportIntervalxStatisticsReportedWithoutBeingAsked) {
    m_camera.frames = {{"tick"}};
    ASSERT_TRUE(Start("report_interval=10"));
    ASSERT_TRUE(m_record.WaitForEvent(FramesEvent(1, 0, 4, Crc("tick"))));
    ASSERT_TRUE(m_ui.StopUI());
    const std::vector<std::string> events = m_record.Events();
    const auto reports = std::count(events.begin(), events.end(), FramesEvent(1, 0, 4, Crc("tick")));
    EXPECT_EQ(reports, 2) << "one periodic report (unchanged statistics are not repeated) and the final one";
}

TEST_F(MapAreasUiTest, HostStartAndUpdatexRefusedDataxFalseAndHostObjectsOfARefusedStartDeleted) {
    const RefusedDataCase startCases[] = {
        {"frame_interval zero", "frame_interval=0"},
        {"frame_interval above a minute", "frame_interval=60001"},
        {"frame_interval not a number", "frame_interval=fast"},
        {"frame_interval beyond int", "frame_interval=99999999999"},
        {"report_interval negative", "report_interval=-1"},
        {"action in the start data", "action=report_frames"},
        {"line without '='", "harbour"},
    };
    for (const RefusedDataCase& c : startCases) {
        SCOPED_TRACE(c.name);
        EventRecord record;
        CameraScript camera;
        KivManagedUi ui = MapAreasManagedUi::CreateInstance();
        EXPECT_FALSE(ui.StartUI(Callback(record), c.data, nullptr, Camera(camera)));
        EXPECT_EQ(record.deletion.Deletions(), 1);
        EXPECT_EQ(camera.deletion.Deletions(), 1);
        EXPECT_TRUE(camera.Calls().empty());
    }
    ASSERT_TRUE(Start(""));
    EXPECT_FALSE(m_ui.UpdateUI("action=dance"));
    EXPECT_FALSE(m_ui.UpdateUI("frame_interval=0"));
    EXPECT_TRUE(m_ui.UpdateUI("action=report_frames"));
    ASSERT_TRUE(m_ui.StopUI());
}

TEST_F(MapAreasUiTest, HostStartUIxAreasxListedInAFrameOnStandardOutput) {
    m_camera.numberOfCameras = 1;
    CapturedStdout output;
    ASSERT_TRUE(Start("harbour=north quay\nfield=east\nreport_interval=0"));
    ASSERT_TRUE(m_ui.UpdateUI("field=west"));
    ASSERT_TRUE(m_ui.StopUI());
    const std::vector<std::string> expected = {
        "[map-areas] +- Map areas ---------+",
        "[map-areas] | harbour  north quay |",
        "[map-areas] | field    east       |",
        "[map-areas] +---------------------+",
        "[map-areas] cameras: 1",
        "[map-areas] capturing every 100 ms",
        "[map-areas] changed  field  west",
        "[map-areas] capture stopped",
        "[map-areas] frames: 0 received, 0 bytes, checksum 00000000",
        "[map-areas] closed",
    };
    EXPECT_EQ(Lines(output.Finish()), expected);
}

}  // namespace
}  // namespace kiv::fld
