// The per-thread code page layer: codeset detection, converter reuse, output bounds.
#include "foundation/narrow_codepage.hpp"

#include <gtest/gtest.h>
#include <iconv.h>

#include <cerrno>
#include <cstring>
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

// ---- ASCII prefixes in multibyte codesets ------------------------------------------------------

// What iconv alone makes of `bytes`: U+FFFD and one byte skipped where it refuses a byte, U+FFFD
// for an incomplete character at the end.
std::u16string DecodeWithIconvAlone(const char* codeset, const std::string& bytes) {
    const iconv_t cd = iconv_open("UTF-16LE", codeset);
    std::u16string units(bytes.size() + 1, u'\0');
    char* inPtr = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char* outPtr = reinterpret_cast<char*>(units.data());
    std::size_t outLeft = units.size() * sizeof(char16_t);
    while (inLeft != 0) {
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1)) break;
        const char16_t replacement = u'\uFFFD';
        std::memcpy(outPtr, &replacement, sizeof replacement);
        outPtr += sizeof replacement;
        outLeft -= sizeof replacement;
        if (errno == EINVAL) break;
        ++inPtr;
        --inLeft;
    }
    iconv_close(cd);
    units.resize(units.size() - outLeft / sizeof(char16_t));
    return units;
}

// Each character alone through iconv; '?' where the codeset lacks it.
std::string EncodeWithIconvAlone(const char* codeset, const std::u16string& units) {
    const iconv_t cd = iconv_open(codeset, "UTF-16LE");
    std::string bytes;
    for (char16_t unit : units) {
        char out[8];
        char* inPtr = reinterpret_cast<char*>(&unit);
        std::size_t inLeft = sizeof unit;
        char* outPtr = out;
        std::size_t outLeft = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft) == static_cast<std::size_t>(-1)) {
            bytes += '?';
        } else {
            bytes.append(out, static_cast<std::size_t>(outPtr - out));
        }
    }
    iconv_close(cd);
    return bytes;
}

// Text that starts with ASCII of every length up to past the SIMD block sizes, then characters
// of the codeset (whose trail bytes may look like ASCII), ASCII again, and a byte the codeset
// refuses: the same as iconv alone, both ways, into exact room and into one unit too few.
TEST(CodePageAsciiPrefix, ConvertAsciiThenMultibyte_MatchesIconvAlone) {
    struct Case {
        const char* locale;
        const char* codeset;
        std::string multibyte;  // narrow text of the codeset, with ASCII-range trail bytes
        std::u16string units;   // BMP text, one character the codeset lacks
    };
    const Case cases[] = {
        {fld::kGbkLocale, "GBK", "\xD6\xD0\x81\x40\xFE\x7E!", u"中文\u0E01!"},
        {fld::kEucJpLocale, "EUC-JP", "\xC6\xFC\x8E\xB1\x8F\xB0\xA1?", u"日ｱ丂\u0E01?"},
    };
    for (const Case& c : cases) {
        fld::ScopedThreadLocale scoped(c.locale);
        ASSERT_TRUE(scoped.Active());
        NarrowCodePage& page = NarrowCodePage::ForCallingThread();
        int failures = 0;
        for (std::size_t ascii = 0; ascii <= 70 && failures < 3; ++ascii) {
            SCOPED_TRACE(std::string(c.codeset) + ", ASCII prefix " + std::to_string(ascii));
            std::string narrow;
            std::u16string units;
            for (std::size_t k = 0; k < ascii; ++k) {
                narrow += static_cast<char>('0' + k % 75);
                units += static_cast<char16_t>('0' + k % 75);
            }
            for (const std::string& tail : {std::string(), c.multibyte + "xyz\xFF"}) {
                const std::string bytes = narrow + tail;
                const std::u16string expected = DecodeWithIconvAlone(c.codeset, bytes);
                std::u16string out(expected.size() + 4, u'\xBEEF');
                const bool ok = page.Utf16Length(bytes) == expected.size() &&
                                page.ToUtf16(bytes, std::span(out).first(expected.size())) == expected.size() &&
                                out.substr(0, expected.size()) == expected &&
                                out.substr(expected.size()) == std::u16string(4, u'\xBEEF') &&
                                (expected.empty() ||
                                 page.ToUtf16(bytes, std::span(out).first(expected.size() - 1)) == zul::text::kNoFit);
                if (!ok) ++failures;
                EXPECT_TRUE(ok) << "decoding, tail of " << tail.size() << " bytes";
            }
            for (const std::u16string& tail : {std::u16string(), c.units + u"xyz"}) {
                const std::u16string text = units + tail;
                const std::string expected = EncodeWithIconvAlone(c.codeset, text);
                std::string out(expected.size() + 4, '\x5A');
                const bool ok = page.NarrowLength(text) == expected.size() &&
                                page.ToNarrow(text, std::span(out).first(expected.size())) == expected.size() &&
                                out.substr(0, expected.size()) == expected &&
                                out.substr(expected.size()) == "\x5A\x5A\x5A\x5A" &&
                                (expected.empty() ||
                                 page.ToNarrow(text, std::span(out).first(expected.size() - 1)) == zul::text::kNoFit);
                if (!ok) ++failures;
                EXPECT_TRUE(ok) << "encoding, tail of " << tail.size() << " units";
            }
        }
    }
}

// Stateful codesets keep every byte for iconv: an escape sequence made of ASCII shifts.
TEST(CodePageAsciiPrefix, ConvertEscapeInStatefulCodeset_Shifts) {
    testing::ScopedCodesetOverride override("ISO-2022-JP");
    NarrowCodePage& page = NarrowCodePage::ForCallingThread();
    const std::string bytes = "ab\x1B$BF|\x1B(Bc";
    std::u16string out(page.Utf16Length(bytes), u'\0');
    ASSERT_EQ(page.ToUtf16(bytes, std::span(out)), out.size());
    EXPECT_EQ(out, u"ab日c");
}

}  // namespace
