// The per-thread code page layer: codeset detection, converter reuse, output bounds.
#include "foundation/narrow_codepage.hpp"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "support/thread_locale.hpp"

namespace {

using namespace std::string_literals;
using zul::text::CodesetKind;
using zul::text::NarrowCodePage;
namespace fld = kiv::fld::testing;
namespace testing = zul::text::testing;

TEST(CodesetClassification, Classify_Utf8SpellingsAndAsciiAreUtf8) {
    struct Case {
        const char* codeset;
        CodesetKind expected;
    };
    const Case cases[] = {
        {"UTF-8", CodesetKind::Utf8},
        {"utf8", CodesetKind::Utf8},
        {"utf-8", CodesetKind::Utf8},
        {"UTF8", CodesetKind::Utf8},
        {"ANSI_X3.4-1968", CodesetKind::Utf8},
        {"ISO-8859-1", CodesetKind::Iconv},
        {"GBK", CodesetKind::Iconv},
        {"EUC-JP", CodesetKind::Iconv},
        {"UTF-16", CodesetKind::Iconv},
        {"UTF-8X", CodesetKind::Iconv},
        {"", CodesetKind::Iconv},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.codeset);
        EXPECT_EQ(zul::text::ClassifyCodeset(c.codeset), c.expected);
    }
}

TEST(CodePageDetection, ForCallingThread_ReadsTheThreadLocale) {
    struct Case {
        const char* locale;
        const char* codeset;
        CodesetKind kind;
    };
    const Case cases[] = {
        {"C", "ANSI_X3.4-1968", CodesetKind::Utf8},
        {fld::kUtf8Locale, "UTF-8", CodesetKind::Utf8},
        {fld::kLatin1Locale, "ISO-8859-1", CodesetKind::Iconv},
        {fld::kGbkLocale, "GBK", CodesetKind::Iconv},
        {fld::kEucJpLocale, "EUC-JP", CodesetKind::Iconv},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.locale);
        fld::ScopedThreadLocale scoped(c.locale);
        ASSERT_TRUE(scoped.Active());
        const NarrowCodePage& page = NarrowCodePage::ForCallingThread();
        EXPECT_EQ(page.Codeset(), c.codeset);
        EXPECT_EQ(page.Kind(), c.kind);
    }
}

// Runs `body` on a new thread, so that converter counts start from nothing.
template <class Body>
void OnFreshThread(Body body) {
    std::thread thread(body);
    thread.join();
}

TEST(CodePageConverters, ConvertRepeatedly_OpensEachConverterOnce) {
    struct Case {
        const char* locale;
        std::uint64_t expectedOpened;  // decoder and encoder for iconv codesets, none for UTF-8
    };
    const Case cases[] = {
        {fld::kUtf8Locale, 0},
        {fld::kGbkLocale, 2},
        {fld::kEucJpLocale, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.locale);
        std::uint64_t opened = 0;
        std::size_t wrongLengths = 0;
        OnFreshThread([&] {
            fld::ScopedThreadLocale scoped(c.locale);
            if (!scoped.Active()) return;
            const std::string bytes = "abc";
            const std::u16string units = u"abc";
            for (int i = 0; i < 50; ++i) {
                NarrowCodePage& page = NarrowCodePage::ForCallingThread();
                if (page.Utf16Length(bytes) != 3) ++wrongLengths;
                if (page.NarrowLength(units) != 3) ++wrongLengths;
            }
            opened = testing::ThreadConverterOpenCount();
        });
        EXPECT_EQ(wrongLengths, 0u);
        EXPECT_EQ(opened, c.expectedOpened);
    }
}

TEST(CodePageConverters, ConvertAcrossManyCodesets_StaysCorrectWhenSlotsAreReused) {
    const char* const codesets[] = {"ISO-8859-1", "ISO-8859-2", "ISO-8859-3",  "ISO-8859-4",  "ISO-8859-5",
                                    "ISO-8859-7", "ISO-8859-9", "ISO-8859-10", "ISO-8859-13", "ISO-8859-15"};
    OnFreshThread([&] {
        for (int round = 0; round < 2; ++round) {
            for (const char* codeset : codesets) {
                SCOPED_TRACE(codeset);
                testing::ScopedCodesetOverride override(codeset);
                NarrowCodePage& page = NarrowCodePage::ForCallingThread();
                EXPECT_EQ(page.Codeset(), codeset);
                const std::string bytes = "ok";
                std::u16string out(2, u'\0');
                EXPECT_EQ(page.ToUtf16(bytes, std::span(out)), 2u);
                EXPECT_EQ(out, u"ok");
            }
        }
        // ISO-8859-1 was evicted and comes back with fresh converters.
        testing::ScopedCodesetOverride override("ISO-8859-1");
        NarrowCodePage& page = NarrowCodePage::ForCallingThread();
        std::u16string out(1, u'\0');
        EXPECT_EQ(page.ToUtf16("\xE9"s, std::span(out)), 1u);
        EXPECT_EQ(out, u"é");
    });
}

TEST(CodePageConverters, ConvertWithOverlongCodesetName_Fails) {
    const std::string name(100, 'X');
    testing::ScopedCodesetOverride override(name.c_str());
    NarrowCodePage& page = NarrowCodePage::ForCallingThread();
    EXPECT_EQ(page.Utf16Length("abc"s), 0u);
    EXPECT_EQ(page.NarrowLength(u"abc"s), 0u);
}

// The write pass must stop at the end of its room, never past it, for each kind of converter.
TEST(CodePageConverters, ConvertIntoTooSmallOutput_GivesNoFitAndStaysInBounds) {
    struct Case {
        const char* locale;
        std::string narrow;
        std::u16string units;
        std::string narrowAgain;  // units converted back
    };
    const Case cases[] = {
        {fld::kUtf8Locale, "a\xC3\xA9\xF0\x9F\x98\x80", u"aé\U0001F600", "a\xC3\xA9\xF0\x9F\x98\x80"},
        {fld::kLatin1Locale, "abc\xE9", u"abcé", "abc\xE9"},
        {fld::kGbkLocale, "a\xD6\xD0\xFF", u"a中\uFFFD", "a\xD6\xD0?"},
        {fld::kEucJpLocale, "\xC6\xFC\x8E\xB1", u"日ｱ", "\xC6\xFC\x8E\xB1"},
    };
    constexpr char16_t kGuardUnit = 0xBEEF;
    constexpr char kGuardByte = '\x5A';
    for (const Case& c : cases) {
        SCOPED_TRACE(c.locale);
        fld::ScopedThreadLocale scoped(c.locale);
        ASSERT_TRUE(scoped.Active());
        NarrowCodePage& page = NarrowCodePage::ForCallingThread();

        ASSERT_EQ(page.Utf16Length(c.narrow), c.units.size());
        std::vector<char16_t> units(c.units.size() + 1, kGuardUnit);
        EXPECT_EQ(page.ToUtf16(c.narrow, std::span(units).first(c.units.size() - 1)), zul::text::kNoFit);
        EXPECT_EQ(units[c.units.size() - 1], kGuardUnit);
        EXPECT_EQ(page.ToUtf16(c.narrow, std::span(units).first(c.units.size())), c.units.size());
        EXPECT_EQ(std::u16string(units.data(), c.units.size()), c.units);
        EXPECT_EQ(units.back(), kGuardUnit);

        const std::string& expectedNarrow = c.narrowAgain;
        ASSERT_EQ(page.NarrowLength(c.units), expectedNarrow.size());
        std::vector<char> bytes(expectedNarrow.size() + 1, kGuardByte);
        EXPECT_EQ(page.ToNarrow(c.units, std::span(bytes).first(expectedNarrow.size() - 1)), zul::text::kNoFit);
        EXPECT_EQ(bytes[expectedNarrow.size() - 1], kGuardByte);
        EXPECT_EQ(page.ToNarrow(c.units, std::span(bytes).first(expectedNarrow.size())), expectedNarrow.size());
        EXPECT_EQ(std::string(bytes.data(), expectedNarrow.size()), expectedNarrow);
        EXPECT_EQ(bytes.back(), kGuardByte);
    }
}

// Counting and writing run the converter twice; the second run must not inherit the first one's
// shift state.
TEST(CodePageConverters, ConvertStatefulTwice_GivesSameResult) {
    testing::ScopedCodesetOverride override("ISO-2022-JP");
    NarrowCodePage& page = NarrowCodePage::ForCallingThread();
    const std::u16string units = u"日本";
    const std::string expected = "\x1B$BF|K\\\x1B(B";
    for (int pass = 0; pass < 2; ++pass) {
        SCOPED_TRACE(pass);
        ASSERT_EQ(page.NarrowLength(units), expected.size());
        std::string out(expected.size(), '\0');
        EXPECT_EQ(page.ToNarrow(units, std::span(out)), expected.size());
        EXPECT_EQ(out, expected);
    }
}

// A conversion abandoned for lack of room stops in the JIS X 0208 state; the next one must
// still start from ASCII.
TEST(CodePageConverters, ConvertAfterAbandonedStatefulConversion_StartsFromInitialState) {
    testing::ScopedCodesetOverride override("ISO-2022-JP");
    NarrowCodePage& page = NarrowCodePage::ForCallingThread();

    std::string small(5, '\0');
    EXPECT_EQ(page.ToNarrow(u"日本"s, std::span(small)), zul::text::kNoFit);
    std::string ascii(1, '\0');
    EXPECT_EQ(page.ToNarrow(u"a"s, std::span(ascii)), 1u);
    EXPECT_EQ(ascii, "a");

    std::u16string one(1, u'\0');
    EXPECT_EQ(page.ToUtf16("\x1B$BF|K\\"s, std::span(one)), zul::text::kNoFit);
    std::u16string two(2, u'\0');
    EXPECT_EQ(page.ToUtf16("F|"s, std::span(two)), 2u);
    EXPECT_EQ(two, u"F|");
}

}  // namespace
