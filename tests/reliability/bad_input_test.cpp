// Bad input pushed on purpose through every exported operation that carries text, each with its
// expected outcome: narrow strings beyond 2147483647 bytes, every class of invalid UTF-8, bytes no
// other code page decodes, lone surrogates in component answers and event texts, and U+0000
// inside text in both directions.
//
// Empty and null input is tested where each operation is: empty texts and lists arrive empty,
// never null (EmailFacade.EmptyTextsAndListsArriveEmptyNeverNull, GpsFacade.InvokeConvertsTheRequest-
// AndTheAnswer, ZipFacade.*PassesThe* "empty" rows, ManagedUi.EmptyDataArrivesAsAnEmptyTextNeverNull,
// FrameCallback.HandleErrorWithAnEmptyMessagePassesAnEmptyTextNeverNull); null answers become "" or
// absent (GpsFacade.InvokeConvertsTheRequestAndTheAnswer, ZipFacade.GetEntriesConvertsTheAnswerNull-
// BeingAbsent); a null event text arrives as "" (EventAdapter.EventTextsReachTheHostAndAMissingText-
// ArrivesEmpty); empty host pointers, null receivers and null frame data (ManagedUi.StartUiWithout*,
// FrameCallback.CallbacksWithoutAReceiver*, FrameCallback.HandleFramePassesLengthAndAddressUnchanged);
// invalid handles of every class (the InvalidHandles tests of each area).
#include <gtest/gtest.h>

#include <climits>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "reliability_fixture.hpp"
#include "support/text.hpp"
#include "support/thread_locale.hpp"

namespace kiv::fld::testing {
namespace {

using namespace std::string_literals;
using kiv::runtime::String;

// Every exported operation that hands a narrow text to the component side.
enum class NarrowRoad {
    SendMailAddress,
    SendMailAttachment,
    InvokeRequest,
    OpenPath,
    AddFileEntryName,
    StartUiData,
    UpdateUiData,
    HandleErrorMessage,
};

constexpr NarrowRoad kNarrowRoads[] = {
    NarrowRoad::SendMailAddress, NarrowRoad::SendMailAttachment, NarrowRoad::InvokeRequest,
    NarrowRoad::OpenPath,        NarrowRoad::AddFileEntryName,   NarrowRoad::StartUiData,
    NarrowRoad::UpdateUiData,    NarrowRoad::HandleErrorMessage,
};

const char* Name(NarrowRoad road) {
    switch (road) {
        case NarrowRoad::SendMailAddress:
            return "KivEmail::SendMail address";
        case NarrowRoad::SendMailAttachment:
            return "KivEmail::SendMail attachment";
        case NarrowRoad::InvokeRequest:
            return "ExternalGpsProvider::Invoke request";
        case NarrowRoad::OpenPath:
            return "KivZipArchive::Open path";
        case NarrowRoad::AddFileEntryName:
            return "KivZipArchive::AddFile entry name";
        case NarrowRoad::StartUiData:
            return "KivManagedUi::StartUI data";
        case NarrowRoad::UpdateUiData:
            return "KivManagedUi::UpdateUI data";
        case NarrowRoad::HandleErrorMessage:
            return "KivCameraProviderCallback::HandleError message";
    }
    return "?";
}

// What became of one text: whether the operation reported success, and what the component side
// received, when it was called at all.
struct Delivery {
    bool succeeded;
    std::optional<std::u16string> received;
};

// Every operation that hands a component's text to the host.
enum class AnswerRoad { InvokeAnswer, GetEntriesAnswer, EventText };

constexpr AnswerRoad kAnswerRoads[] = {AnswerRoad::InvokeAnswer, AnswerRoad::GetEntriesAnswer, AnswerRoad::EventText};

const char* Name(AnswerRoad road) {
    switch (road) {
        case AnswerRoad::InvokeAnswer:
            return "ExternalGpsProvider::Invoke answer";
        case AnswerRoad::GetEntriesAnswer:
            return "KivZipArchive::GetEntries answer";
        case AnswerRoad::EventText:
            return "IKivManagedUiCallback::HandleEvent text";
    }
    return "?";
}

struct NarrowCase {
    const char* name;
    const char* locale;
    std::string narrow;
    std::u16string expected;
};

class BadInput : public ReliabilityTest {
protected:
    // Every operation succeeds and its component side receives `c.expected`.
    void ExpectEveryRoadDelivers(const NarrowCase& c) {
        const ScopedThreadLocale locale(c.locale);
        ASSERT_TRUE(locale.Active());
        for (const NarrowRoad road : kNarrowRoads) {
            SCOPED_TRACE(std::string(c.locale) + ", " + c.name + ", through " + Name(road));
            const Delivery delivery = Deliver(road, c.narrow);
            EXPECT_TRUE(delivery.succeeded);
            EXPECT_EQ(delivery.received, c.expected);
        }
    }

    Delivery Deliver(NarrowRoad road, const std::string& text) {
        switch (road) {
            case NarrowRoad::SendMailAddress:
                return FromRecord(m_mail, 0, [&] { return m_email.SendMail(text, "subject", "body", {}); });
            case NarrowRoad::SendMailAttachment:
                return FromRecord(m_mail, 4, [&] {
                    return m_email.SendMail("to@example.org", "subject", "body", {"a", text});
                });
            case NarrowRoad::InvokeRequest:
                m_gps.answer = String(u"ok");
                return FromRecord(m_gps, 0, [&] { return m_gpsHandle.Invoke(text) == "ok"; });
            case NarrowRoad::OpenPath:
                return FromRecord(m_zip, 0, [&] { return m_zipHandle.Open(text, 1); });
            case NarrowRoad::AddFileEntryName:
                return FromRecord(m_zip, 1, [&] { return m_zipHandle.AddFile("/data/in.txt", text); });
            case NarrowRoad::StartUiData:
                return FromUi([&] { return m_uiHandle.StartUI(nullptr, text, nullptr, nullptr); });
            case NarrowRoad::UpdateUiData:
                return FromUi([&] { return m_uiHandle.UpdateUI(text); });
            case NarrowRoad::HandleErrorMessage: {
                const std::size_t before = m_receiver->Errors().size();
                m_frames.HandleError(text);
                const auto errors = m_receiver->Errors();
                if (errors.size() == before) return {false, std::nullopt};
                return {true, Units(errors.back())};
            }
        }
        return {false, std::nullopt};
    }

    // The text as the host receives it from the component side.
    std::optional<std::string> Answer(AnswerRoad road, const String& text) {
        switch (road) {
            case AnswerRoad::InvokeAnswer:
                m_gps.answer = text;
                return m_gpsHandle.Invoke("?POLL;");
            case AnswerRoad::GetEntriesAnswer:
                m_zip.answer = text;
                return m_zipHandle.GetEntries();
            case AnswerRoad::EventText: {
                HostObjects host;
                EXPECT_TRUE(m_uiHandle.StartUI(host.Callback(), "start", nullptr, nullptr));
                m_ui.events.back()->HandleEvent(text);
                const auto events = host.events.Events();
                LetGoOfTheAdapters();
                if (events.empty()) return std::nullopt;
                return events.back();
            }
        }
        return std::nullopt;
    }

private:
    template <class Record, class Call>
    Delivery FromRecord(Record& record, std::size_t position, Call&& call) {
        const std::size_t before = record.calls.size();
        const bool succeeded = call();
        if (record.calls.size() == before) return {succeeded, std::nullopt};
        const auto& texts = record.calls.back();
        if (texts.size() <= position) return {succeeded, u"<no such text>"};
        return {succeeded, Units(texts[position])};
    }

    template <class Call>
    Delivery FromUi(Call&& call) {
        const std::size_t before = m_ui.calls.size();
        const bool succeeded = call();
        if (m_ui.calls.size() == before) return {succeeded, std::nullopt};
        return {succeeded, Units(m_ui.calls.back().data)};
    }
};

// Undecodable bytes are replaced, never refused: every operation succeeds and the component side
// receives one U+FFFD per maximal invalid subsequence. The C locale reads bytes as UTF-8 too.
TEST_F(BadInput, NarrowIn_EveryOperation_InvalidUtf8ArrivesWithOneReplacementPerMaximalSubpart) {
    const char* const utf8 = kUtf8Locale;
    const NarrowCase cases[] = {
        {"overlong two-byte form of '/'", utf8, "\xC0\xAF", u"\uFFFD\uFFFD"},
        {"overlong two-byte form C1", utf8, "\xC1\xBF", u"\uFFFD\uFFFD"},
        {"overlong three-byte form", utf8, "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
        {"overlong four-byte form", utf8, "\xF0\x80\x80\xAF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"high surrogate encoded in UTF-8", utf8, "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"low surrogate encoded in UTF-8", utf8, "\xED\xBF\xBF", u"\uFFFD\uFFFD\uFFFD"},
        {"surrogate pair encoded in UTF-8", utf8, "\xED\xA0\xBD\xED\xB8\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"above U+10FFFF", utf8, "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"truncated two-byte at the end", utf8, "a\xC3", u"a\uFFFD"},
        {"truncated three-byte before ASCII", utf8, "\xE2\x82z", u"\uFFFDz"},
        {"truncated four-byte at the end", utf8, "\xF0\x9F\x98", u"\uFFFD"},
        {"truncated sequence before a complete one", utf8, "\xF0\x9F\x98\xC3\xA9", u"\uFFFD\u00E9"},
        {"lone continuation bytes", utf8, "\x80\xBF", u"\uFFFD\uFFFD"},
        {"lead F5 with continuations", utf8, "\xF5\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"bytes F5 to FF", utf8, "\xF5\xF6\xF7\xF8\xF9\xFA\xFB\xFC\xFD\xFE\xFF", std::u16string(11, u'\uFFFD')},
        {"valid text resumes after invalid bytes", utf8, "\xFFok\xE2\x82\xAC", u"\uFFFDok\u20AC"},
        {"invalid byte in the C locale", "C",
         "a\xFF"
         "b",
         u"a\uFFFDb"},
        {"overlong form in the C locale", "C", "\xC0\xAF", u"\uFFFD\uFFFD"},
    };
    for (const NarrowCase& c : cases) ExpectEveryRoadDelivers(c);
}

TEST_F(BadInput, NarrowIn_EveryOperation_OtherCodePagesAndZeroBytes) {
    const NarrowCase cases[] = {
        {"zero byte inside", kUtf8Locale, "a\0b"s, std::u16string(u"a\0b", 3)},
        {"zero byte inside", kLatin1Locale, "a\0b"s, std::u16string(u"a\0b", 3)},
        {"zero byte inside", kGbkLocale, "a\0b"s, std::u16string(u"a\0b", 3)},
        {"only zero bytes", kUtf8Locale, "\0\0"s, std::u16string(2, u'\0')},
        {"every byte is a character", kLatin1Locale, "\x80\x9F\xA0\xFF", u"\u0080\u009F\u00A0\u00FF"},
        {"byte that never starts a character", kGbkLocale,
         "a\xFF"
         "b",
         u"a\uFFFDb"},
        {"lead byte at the end", kGbkLocale, "\xD6\xD0\x81", u"\u4E2D\uFFFD"},
        {"lead byte before a zero byte", kGbkLocale, "\x81\0z"s, std::u16string(u"\uFFFD\0z", 3)},
    };
    for (const NarrowCase& c : cases) ExpectEveryRoadDelivers(c);
}

// Needs about 2 GB of memory. The size test comes before any conversion, so every operation fails
// at once and the component side is never called.
TEST_F(BadInput, NarrowIn_EveryOperation_MoreThanIntMaxBytesFailsWithoutCallingTheComponent) {
    const std::string oversized(static_cast<std::size_t>(INT_MAX) + 1, 'x');
    for (const NarrowRoad road : kNarrowRoads) {
        SCOPED_TRACE(Name(road));
        const Delivery delivery = Deliver(road, oversized);
        EXPECT_FALSE(delivery.succeeded);
        EXPECT_EQ(delivery.received, std::nullopt) << "the component side was called";
    }
    // The handles still work afterwards.
    const Delivery after = Deliver(NarrowRoad::SendMailAddress, "to@example.org");
    EXPECT_TRUE(after.succeeded);
}

struct AnswerCase {
    const char* name;
    std::u16string units;
    std::string utf8;
    std::string latin1;
    std::string gbk;
};

// A character the code page lacks, lone surrogates included, becomes its default character: U+FFFD
// in UTF-8, '?' elsewhere; a complete surrogate pair is one character.
TEST_F(BadInput, ComponentOut_EveryOperation_LoneSurrogatesAndZeroUnits) {
    const AnswerCase cases[] = {
        {"lone high surrogate", u"\xD800"s, "\xEF\xBF\xBD", "?", "?"},
        {"lone low surrogate between letters", u"a\xDC00z"s, "a\xEF\xBF\xBDz", "a?z", "a?z"},
        {"high surrogate at the end", u"a\xD83D"s, "a\xEF\xBF\xBD", "a?", "a?"},
        {"high surrogate before a letter", u"\xD83Dz"s, "\xEF\xBF\xBDz", "?z", "?z"},
        {"reversed pair", u"\xDE00\xD83D"s, "\xEF\xBF\xBD\xEF\xBF\xBD", "??", "??"},
        {"two high surrogates then a pair", u"\xD800\xD800\xDC00"s, "\xEF\xBF\xBD\xF0\x90\x80\x80", "??", "??"},
        {"pair the code page lacks", u"\U0001F600"s, "\xF0\x9F\x98\x80", "?", "?"},
        {"zero unit inside", std::u16string(u"a\0b", 3), "a\0b"s, "a\0b"s, "a\0b"s},
        {"zero unit next to a lone surrogate", std::u16string(u"\0\xDC00", 2), "\0\xEF\xBF\xBD"s, "\0?"s, "\0?"s},
    };
    for (const AnswerCase& c : cases) {
        for (const auto& [locale, expected] :
             {std::pair{kUtf8Locale, c.utf8}, std::pair{kLatin1Locale, c.latin1}, std::pair{kGbkLocale, c.gbk}}) {
            const ScopedThreadLocale scoped(locale);
            ASSERT_TRUE(scoped.Active());
            for (const AnswerRoad road : kAnswerRoads) {
                SCOPED_TRACE(std::string(locale) + ", " + c.name + ", through " + Name(road));
                EXPECT_EQ(Answer(road, String(c.units)), expected);
            }
        }
    }
}

}  // namespace
}  // namespace kiv::fld::testing
