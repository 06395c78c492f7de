// KivManagedUiCallback: what the host receives for each event text, what reaches the hosted UI
// back, and when, where and how often the host callback is deleted, also while events run on
// other threads.
#include "ui/managed_ui_callback.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "KivFldCommon/IKivManagedUICallback.hpp"
#include "kiv/fld/managed_ui.hpp"
#include "kiv/runtime/runtime.hpp"
#include "support/host_doubles.hpp"
#include "support/thread_locale.hpp"

namespace kiv::fld {
namespace {

using kiv::fld::testing::EventLog;
using kiv::fld::testing::Gate;
using kiv::fld::testing::RecordingUiCallback;
using kiv::runtime::New;
using kiv::runtime::Ref;
using kiv::runtime::String;
using EventContract = KivFldCommon::IKivManagedUICallback;

Ref<EventContract> AdapterOver(EventLog& log) {
    return New<KivManagedUiCallback>(std::make_unique<RecordingUiCallback>(log));
}

void Dispose(const Ref<EventContract>& adapter) { adapter.Cast<kiv::runtime::IDisposable>()->Dispose(); }

class EventAdapter : public ::testing::Test {
protected:
    ~EventAdapter() override {
        // The host callback reports into m_log: let the adapter end before the log does.
        m_adapter.Reset();
        kiv::runtime::CollectAndWaitForPendingFinalizers();
    }

    EventLog m_log;
    Ref<EventContract> m_adapter = AdapterOver(m_log);
};

TEST_F(EventAdapter, EventTextsReachTheHostAndAMissingTextArrivesEmpty) {
    struct Case {
        const char* name;
        String data;
        std::string expected;
    };
    const Case cases[] = {
        {"null", String(), ""},
        {"empty", String::Empty(), ""},
        {"text", String(u"button:ok"), "button:ok"},
        {"zero unit inside", String(std::u16string_view(u"a\0b", 3)), std::string("a\0b", 3)},
    };
    for (const Case& c : cases) m_adapter->HandleEvent(c.data);
    const auto events = m_log.Events();
    ASSERT_EQ(events.size(), std::size(cases));
    for (std::size_t i = 0; i < events.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        EXPECT_EQ(events[i], cases[i].expected);
    }
}

TEST_F(EventAdapter, EventTextsAreConvertedToTheThreadCodePage) {
    struct Case {
        const char* locale;
        std::u16string data;
        std::string expected;
    };
    const Case cases[] = {
        {kiv::fld::testing::kLatin1Locale,
         u"Gr\u00FC\u00DF"
         u"e",
         "Gr\xFC\xDF"
         "e"},
        {kiv::fld::testing::kGbkLocale, u"\u76F8\u673A", "\xCF\xE0\xBB\xFA"},
        {kiv::fld::testing::kEucJpLocale, u"\u30AB\u30E1\u30E9", "\xA5\xAB\xA5\xE1\xA5\xE9"},
        {kiv::fld::testing::kUtf8Locale,
         u"Gr\u00FC\u00DF"
         u"e",
         "Gr\xC3\xBC\xC3\x9F"
         "e"},
    };
    for (const Case& c : cases) {
        const kiv::fld::testing::ScopedThreadLocale locale(c.locale);
        m_adapter->HandleEvent(String(c.data));
    }
    const auto events = m_log.Events();
    ASSERT_EQ(events.size(), std::size(cases));
    for (std::size_t i = 0; i < events.size(); ++i) {
        SCOPED_TRACE(cases[i].locale);
        EXPECT_EQ(events[i], cases[i].expected);
    }
}

TEST_F(EventAdapter, AHostExceptionReachesTheUiAndTheNextEventStillArrives) {
    m_log.raise = "host dialog closed";
    try {
        m_adapter->HandleEvent(String(u"first"));
        ADD_FAILURE() << "the host's exception did not reach the UI";
    } catch (const std::runtime_error& error) {
        EXPECT_EQ(std::string(error.what()), "host dialog closed");
    }
    m_log.raise.clear();
    m_adapter->HandleEvent(String(u"second"));
    EXPECT_EQ(m_log.Events(), (std::vector<std::string>{"first", "second"}));
    Dispose(m_adapter);
    EXPECT_EQ(m_log.deletion.Deletions(), 1) << "no event counted as running any more";
    EXPECT_EQ(m_log.deletion.CallsInProgressAtDeletion(), 0);
}

TEST_F(EventAdapter, DisposeTwiceDeletesTheHostCallbackOnceOnTheDisposingThread) {
    Dispose(m_adapter);
    EXPECT_EQ(m_log.deletion.Deletions(), 1);
    EXPECT_EQ(m_log.deletion.Thread(), std::this_thread::get_id());
    Dispose(m_adapter);
    m_adapter.Reset();
    kiv::runtime::CollectAndWaitForPendingFinalizers();
    EXPECT_EQ(m_log.deletion.Deletions(), 1) << "neither the second Dispose nor finalization deletes again";
    EXPECT_FALSE(m_log.deletion.OnFinalizerThread());
}

TEST_F(EventAdapter, AnAdapterNeverReleasedDeletesTheHostCallbackOnTheFinalizerThread) {
    m_adapter->HandleEvent(String(u"shown"));
    m_adapter.Reset();
    kiv::runtime::CollectAndWaitForPendingFinalizers();
    EXPECT_EQ(m_log.deletion.Deletions(), 1);
    EXPECT_TRUE(m_log.deletion.OnFinalizerThread());
}

TEST_F(EventAdapter, AfterReleaseEventsAreDroppedSilently) {
    Dispose(m_adapter);
    EXPECT_NO_THROW(m_adapter->HandleEvent(String(u"late")));
    EXPECT_NO_THROW(m_adapter->HandleEvent(String()));
    EXPECT_TRUE(m_log.Events().empty());
}

TEST(EventAdapterWithoutCallback, DropsEventsAndReleasesNothing) {
    Ref<EventContract> adapter = New<KivManagedUiCallback>(nullptr);
    EXPECT_NO_THROW(adapter->HandleEvent(String(u"nobody listens")));
    EXPECT_NO_THROW(adapter->HandleEvent(String()));
    EXPECT_NO_THROW(Dispose(adapter));
    Ref<EventContract> finalized = New<KivManagedUiCallback>(nullptr);
    finalized.Reset();
    EXPECT_NO_THROW(kiv::runtime::CollectAndWaitForPendingFinalizers());
}

// The two promises for events on other threads: Dispose during an event, and the hosted UI
// dropping its last reference during an event. The host blocks in HandleEvent until the test lets
// it go.
class EventAdapterDuringAnEvent : public ::testing::Test {
protected:
    ~EventAdapterDuringAnEvent() override {
        m_gate.Open();
        if (m_caller.joinable()) m_caller.join();
        m_adapter.Reset();
        kiv::runtime::CollectAndWaitForPendingFinalizers();
    }

    // Raises the event on a thread of its own, through a plain pointer like a hosted UI that may
    // drop its reference meanwhile, and waits until the host is inside HandleEvent.
    void StartBlockedEvent() {
        m_log.gate = &m_gate;
        EventContract* adapter = m_adapter.Get();
        m_caller = std::thread([adapter] { adapter->HandleEvent(String(u"slow")); });
        m_gate.WaitForArrivals(1);
    }

    std::thread::id FinishEvent() {
        const std::thread::id caller = m_caller.get_id();
        m_gate.Open();
        m_caller.join();
        return caller;
    }

    Gate m_gate;
    EventLog m_log;
    Ref<EventContract> m_adapter = AdapterOver(m_log);
    std::thread m_caller;
};

TEST_F(EventAdapterDuringAnEvent, DisposeLeavesTheHostCallbackToTheEventWhichDeletesItOnReturn) {
    StartBlockedEvent();
    Dispose(m_adapter);
    EXPECT_EQ(m_log.deletion.Deletions(), 0) << "deleted while its HandleEvent was running";
    const std::thread::id caller = FinishEvent();
    EXPECT_EQ(m_log.deletion.Deletions(), 1);
    EXPECT_EQ(m_log.deletion.CallsInProgressAtDeletion(), 0);
    EXPECT_EQ(m_log.deletion.Thread(), caller);
}

TEST_F(EventAdapterDuringAnEvent, DroppingTheLastReferenceDefersFinalizationUntilTheEventReturns) {
    StartBlockedEvent();
    m_adapter.Reset();
    kiv::runtime::CollectAndWaitForPendingFinalizers();
    EXPECT_EQ(m_log.deletion.Deletions(), 0) << "finalized while its HandleEvent was running";
    FinishEvent();
    kiv::runtime::CollectAndWaitForPendingFinalizers();
    EXPECT_EQ(m_log.deletion.Deletions(), 1);
    EXPECT_EQ(m_log.deletion.CallsInProgressAtDeletion(), 0);
    EXPECT_TRUE(m_log.deletion.OnFinalizerThread());
    EXPECT_EQ(m_log.Events(), std::vector<std::string>{"slow"});
}

TEST_F(EventAdapterDuringAnEvent, DisposeAndDroppingTheLastReferenceDuringTheEvent) {
    StartBlockedEvent();
    Dispose(m_adapter);
    m_adapter.Reset();
    kiv::runtime::CollectAndWaitForPendingFinalizers();
    EXPECT_EQ(m_log.deletion.Deletions(), 0);
    const std::thread::id caller = FinishEvent();
    EXPECT_EQ(m_log.deletion.Deletions(), 1);
    EXPECT_EQ(m_log.deletion.Thread(), caller);
}

TEST(EventAdapterConcurrency, EventsRacingWithDisposeNeverOutliveTheHostCallback) {
    constexpr int kRaisers = 3;
    constexpr int kEventsPerRaiser = 2000;
    EventLog log;
    Ref<EventContract> adapter = AdapterOver(log);
    std::atomic<int> started{0};
    std::vector<std::thread> raisers;
    for (int r = 0; r < kRaisers; ++r) {
        raisers.emplace_back([&, keep = adapter] {
            ++started;
            const String event(u"tick");
            for (int i = 0; i < kEventsPerRaiser; ++i) keep->HandleEvent(event);
        });
    }
    while (started < kRaisers) std::this_thread::yield();
    Dispose(adapter);
    for (auto& raiser : raisers) raiser.join();
    EXPECT_EQ(log.deletion.Deletions(), 1);
    EXPECT_EQ(log.deletion.CallsInProgressAtDeletion(), 0);
    adapter.Reset();
    kiv::runtime::CollectAndWaitForPendingFinalizers();
    EXPECT_EQ(log.deletion.Deletions(), 1);
}

}  // namespace
}  // namespace kiv::fld
