// KivZipArchive: what reaches the zip component, in which order, how its listing comes back, and
// how failures become false or an absent value.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "KivFldZipArchive/KivZipArchive.hpp"
#include "kiv/fld/zip_archive.hpp"
#include "kiv/runtime/runtime.hpp"
#include "services/zip_archive_wrapper.hpp"
#include "support/recording_component.hpp"
#include "support/text.hpp"
#include "support/thread_locale.hpp"

namespace kiv::fld {
namespace {

using kiv::fld::testing::Units;
using kiv::runtime::String;
using Contract = KivFldZipArchive::KivZipArchive;

struct ZipCall {
    std::string member;
    std::vector<String> texts;  // the string arguments, in the order received
    std::optional<std::int32_t> openMode;
    std::optional<bool> overwrite;
};

// GetEntries answers whatever the test put into `entries` (null by default).
struct ZipRecord : testing::ComponentRecord<ZipCall> {
    String entries;
};

class RecordingZipArchive final : public Contract, public testing::Recording<ZipRecord> {
public:
    void Open(const String& archiveAbsolutePath, std::int32_t openMode) override {
        Note({"Open", {archiveAbsolutePath}, openMode, std::nullopt});
    }
    void AddFile(const String& absolutePath, const String& entryName) override {
        Note({"AddFile", {absolutePath, entryName}, std::nullopt, std::nullopt});
    }
    void ExtractEntryToFile(const String& entryName, const String& destinationAbsolutePath, bool overwrite) override {
        Note({"ExtractEntryToFile", {entryName, destinationAbsolutePath}, std::nullopt, overwrite});
    }
    String GetEntries() override {
        Note({"GetEntries", {}, std::nullopt, std::nullopt});
        return record->entries;
    }
    void Close() override { Note({"Close", {}, std::nullopt, std::nullopt}); }
};

// Every exported operation, with non-empty ASCII arguments; `succeeded` is the operation's own
// success report (true, or a present listing).
struct Operation {
    const char* member;
    std::function<bool(KivZipArchive&)> succeeded;
};

const std::vector<Operation>& AllOperations() {
    static const std::vector<Operation> operations = {
        {"Open", [](KivZipArchive& zip) { return zip.Open("/data/archive.zip", 2); }},
        {"AddFile", [](KivZipArchive& zip) { return zip.AddFile("/data/in/report.txt", "docs/report.txt"); }},
        {"ExtractEntryToFile",
         [](KivZipArchive& zip) { return zip.ExtractEntryToFile("docs/report.txt", "/data/out/report.txt", true); }},
        {"GetEntries", [](KivZipArchive& zip) { return zip.GetEntries().has_value(); }},
        {"Close", [](KivZipArchive& zip) { return zip.Close(); }},
    };
    return operations;
}

void ExpectTexts(const ZipCall& call, const std::vector<std::u16string>& expected) {
    ASSERT_EQ(call.texts.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        SCOPED_TRACE(::testing::Message() << "string argument " << i + 1);
        EXPECT_FALSE(call.texts[i].IsNull()) << "texts arrive as component strings, never null";
        EXPECT_EQ(Units(call.texts[i]), expected[i]);
    }
}

class ZipFacade : public testing::RecordingComponentTest<Contract, RecordingZipArchive> {
protected:
    ZipFacade() { m_record.entries = String::Empty(); }
};

TEST_F(ZipFacade, CreateInstanceGivesAValidHandleOverOneNewArchiveObject) {
    const KivZipArchive zip = KivZipArchive::CreateInstance();
    EXPECT_TRUE(zip);
    EXPECT_EQ(m_record.constructed, 1);
    EXPECT_TRUE(m_record.calls.empty()) << "creating opens nothing";
}

TEST_F(ZipFacade, CreateInstanceLetsARaisingConstructorEscape) {
    m_record.constructorError = "zip support is not installed";
    testing::ExpectCreateInstanceRaises<KivZipArchive, kiv::runtime::InvalidOperationError>(
        "zip support is not installed");
    EXPECT_EQ(m_record.constructed, 0);
}

TEST_F(ZipFacade, EveryOperationOnInvalidHandlesFailsWithoutCallingTheComponent) {
    for (auto& [name, handle] : testing::InvalidHandles<KivZipArchive, KivZipArchiveWrapper>()) {
        SCOPED_TRACE(name);
        EXPECT_FALSE(handle);
        for (const Operation& operation : AllOperations()) {
            SCOPED_TRACE(operation.member);
            EXPECT_FALSE(operation.succeeded(handle));
        }
    }
    EXPECT_TRUE(m_record.calls.empty());
}

TEST_F(ZipFacade, EveryOperationReachesItsComponentMemberOnce) {
    KivZipArchive zip = KivZipArchive::CreateInstance();
    for (const Operation& operation : AllOperations()) {
        SCOPED_TRACE(operation.member);
        m_record.calls.clear();
        EXPECT_TRUE(operation.succeeded(zip));
        ASSERT_EQ(m_record.calls.size(), 1u);
        EXPECT_EQ(m_record.calls[0].member, operation.member);
    }
}

TEST_F(ZipFacade, EveryOperationOfARaisingComponentFailsAndTheNextCallReachesItAgain) {
    KivZipArchive zip = KivZipArchive::CreateInstance();
    for (const Operation& operation : AllOperations()) {
        SCOPED_TRACE(operation.member);
        m_record.calls.clear();
        m_record.raise = true;
        EXPECT_FALSE(operation.succeeded(zip));
        m_record.raise = false;
        EXPECT_TRUE(operation.succeeded(zip));
        ASSERT_EQ(m_record.calls.size(), 2u);
        EXPECT_EQ(m_record.calls[1].member, operation.member);
        EXPECT_TRUE(zip);
    }
}

TEST_F(ZipFacade, OpenPassesThePathAndEveryModeUnchanged) {
    struct Case {
        const char* name;
        std::string path;
        int openMode;
        bool componentRefuses;
        bool expected;
    };
    const Case cases[] = {
        {"read", "/data/a.zip", 0, false, true},
        {"create", "/data/b.zip", 1, false, true},
        {"update", "/data/c.zip", 2, false, true},
        {"mode the component does not know", "/data/d.zip", 3, false, true},
        {"negative mode", "/data/e.zip", -1, false, true},
        {"smallest mode", "/data/f.zip", INT_MIN, false, true},
        {"largest mode", "/data/g.zip", INT_MAX, false, true},
        {"refused by the component", "/data/h.zip", 7, true, false},
        {"empty path", "", 0, false, true},
    };
    KivZipArchive zip = KivZipArchive::CreateInstance();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        m_record.calls.clear();
        m_record.raise = c.componentRefuses;
        EXPECT_EQ(zip.Open(c.path, c.openMode), c.expected);
        ASSERT_EQ(m_record.calls.size(), 1u);
        EXPECT_EQ(m_record.calls[0].member, "Open");
        ExpectTexts(m_record.calls[0], {std::u16string(c.path.begin(), c.path.end())});
        EXPECT_EQ(m_record.calls[0].openMode, std::optional<std::int32_t>(c.openMode));
    }
}

TEST_F(ZipFacade, AddFilePassesThePathFirstAndTheEntryNameSecond) {
    struct Case {
        const char* name;
        const char* locale;  // null: the process's default ("C") locale
        std::string absolutePath;
        std::string entryName;
        std::vector<std::u16string> expected;
    };
    const Case cases[] = {
        {"different texts",
         nullptr,
         "/data/in/report.txt",
         "docs/report.txt",
         {u"/data/in/report.txt", u"docs/report.txt"}},
        {"empty texts", nullptr, "", "", {u"", u""}},
        {"latin-1 code page",
         testing::kLatin1Locale,
         "/data/\xFC"
         "ber.txt",
         "\xE9t\xE9/\xFC"
         "ber.txt",
         {u"/data/\u00FC"
          u"ber.txt",
          u"\u00E9t\u00E9/\u00FC"
          u"ber.txt"}},
        {"utf-8 code page",
         testing::kUtf8Locale,
         "/data/\xE6\x9D\xB1.txt",
         "\xC3\xA9t\xC3\xA9.txt",
         {u"/data/\u6771.txt", u"\u00E9t\u00E9.txt"}},
    };
    KivZipArchive zip = KivZipArchive::CreateInstance();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<testing::ScopedThreadLocale> locale;
        if (c.locale) locale.emplace(c.locale);
        m_record.calls.clear();
        EXPECT_TRUE(zip.AddFile(c.absolutePath, c.entryName));
        ASSERT_EQ(m_record.calls.size(), 1u);
        EXPECT_EQ(m_record.calls[0].member, "AddFile");
        ExpectTexts(m_record.calls[0], c.expected);
    }
}

TEST_F(ZipFacade, ExtractEntryToFilePassesTheEntryNameThenTheDestinationThenOverwrite) {
    struct Case {
        const char* name;
        const char* locale;  // null: the process's default ("C") locale
        std::string entryName;
        std::string destination;
        bool overwrite;
        std::vector<std::u16string> expected;
    };
    const Case cases[] = {
        {"overwrite",
         nullptr,
         "docs/report.txt",
         "/data/out/report.txt",
         true,
         {u"docs/report.txt", u"/data/out/report.txt"}},
        {"keep existing",
         nullptr,
         "docs/report.txt",
         "/data/out/report.txt",
         false,
         {u"docs/report.txt", u"/data/out/report.txt"}},
        {"empty texts", nullptr, "", "", false, {u"", u""}},
        {"latin-1 code page",
         testing::kLatin1Locale,
         "\xFC"
         "ber.txt",
         "/data/\xE9t\xE9.txt",
         true,
         {u"\u00FC"
          u"ber.txt",
          u"/data/\u00E9t\u00E9.txt"}},
        {"utf-8 code page",
         testing::kUtf8Locale,
         "\xE6\x9D\xB1.txt",
         "/data/\xC3\xBC"
         "ber.txt",
         false,
         {u"\u6771.txt",
          u"/data/\u00FC"
          u"ber.txt"}},
    };
    KivZipArchive zip = KivZipArchive::CreateInstance();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<testing::ScopedThreadLocale> locale;
        if (c.locale) locale.emplace(c.locale);
        m_record.calls.clear();
        EXPECT_TRUE(zip.ExtractEntryToFile(c.entryName, c.destination, c.overwrite));
        ASSERT_EQ(m_record.calls.size(), 1u);
        EXPECT_EQ(m_record.calls[0].member, "ExtractEntryToFile");
        ExpectTexts(m_record.calls[0], c.expected);
        EXPECT_EQ(m_record.calls[0].overwrite, std::optional<bool>(c.overwrite));
    }
}

TEST_F(ZipFacade, GetEntriesConvertsTheAnswerNullBeingAbsent) {
    struct Case {
        const char* name;
        const char* locale;  // null: the process's default ("C") locale
        String answer;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"null answer", nullptr, String(), std::nullopt},
        {"empty answer", nullptr, String::Empty(), std::string()},
        {"entry names", nullptr, String(u"a.txt\ndocs/b.txt\n"), std::string("a.txt\ndocs/b.txt\n")},
        {"zero unit inside", nullptr, String(std::u16string_view(u"a\0b", 3)), std::string("a\0b", 3)},
        {"latin-1 code page", testing::kLatin1Locale,
         String(u"\u00FC"
                u"ber.txt\n\u00E9t\u00E9.txt\n"),
         std::string("\xFC"
                     "ber.txt\n\xE9t\xE9.txt\n")},
        {"utf-8 code page", testing::kUtf8Locale,
         String(u"\u6771\u4EAC.txt\n\u00FC"
                u"ber.txt\n"),
         std::string("\xE6\x9D\xB1\xE4\xBA\xAC.txt\n\xC3\xBC"
                     "ber.txt\n")},
    };
    KivZipArchive zip = KivZipArchive::CreateInstance();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::optional<testing::ScopedThreadLocale> locale;
        if (c.locale) locale.emplace(c.locale);
        m_record.entries = c.answer;
        EXPECT_EQ(zip.GetEntries(), c.expected);
    }
}

TEST_F(ZipFacade, FailedConversionOfAnyTextNeverCallsTheComponent) {
    struct Case {
        const char* member;
        std::uint32_t texts;
        std::function<bool(KivZipArchive&)> succeeded;
    };
    const Case cases[] = {
        {"Open", 1, [](KivZipArchive& zip) { return zip.Open("/data/archive.zip", 1); }},
        {"AddFile", 2, [](KivZipArchive& zip) { return zip.AddFile("/data/in/report.txt", "docs/report.txt"); }},
        {"ExtractEntryToFile", 2,
         [](KivZipArchive& zip) { return zip.ExtractEntryToFile("docs/report.txt", "/data/out/report.txt", false); }},
    };
    KivZipArchive zip = KivZipArchive::CreateInstance();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.member);
        m_record.calls.clear();
        const std::uint32_t allocations =
            testing::ExpectEveryFailedAllocationReported([&] { return c.succeeded(zip); });
        EXPECT_GE(allocations, c.texts) << "every text must be converted";
        ASSERT_EQ(m_record.calls.size(), 1u) << "only the run without a failed allocation reaches the component";
        EXPECT_EQ(m_record.calls[0].member, c.member);
    }
}

}  // namespace
}  // namespace kiv::fld
