// The scalar UTF-8 kernels on their own: counts agree with conversions, output bounds hold.
#include "foundation/text_utf8.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
namespace utf8 = zul::text::utf8;

constexpr char16_t kGuardUnit = 0xBEEF;
constexpr char kGuardByte = '\x5A';

struct DecodeCase {
    const char* name;
    std::string bytes;
    std::u16string units;
};

std::vector<DecodeCase> DecodeCases() {
    return {
        {"empty", "", u""},
        {"zero bytes", "\0a\0"s, u"\0a\0"s},
        {"exactly one ASCII block", std::string(16, 'q'), std::u16string(16, u'q')},
        {"ASCII block plus tail", std::string(23, 'q'), std::u16string(23, u'q')},
        {"two-byte", "\xC3\xA9", u"é"},
        {"three-byte", "\xE2\x82\xAC", u"€"},
        {"four-byte", "\xF0\x9F\x98\x80", u"\U0001F600"},
        {"non-ASCII at the end of a block", std::string(15, 'a') + "\xC3\xA9" + std::string(16, 'b'),
         std::u16string(15, u'a') + u"é" + std::u16string(16, u'b')},
        {"invalid", "\xC0\x80\xED\xA0\x80\xF4\x90\xE2\x82", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"invalid then supplementary", "\xF0\x9F\x98\xF0\x9F\x98\x80", u"\uFFFD\U0001F600"},
    };
}

TEST(Utf8Kernel, Decode_CountMatchesUnitsWritten) {
    for (const DecodeCase& c : DecodeCases()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(utf8::Utf16Length(c.bytes), c.units.size());
        std::vector<char16_t> out(c.units.size() + 1, kGuardUnit);
        const std::size_t written = utf8::DecodeToUtf16(c.bytes, std::span(out).first(c.units.size()));
        ASSERT_EQ(written, c.units.size());
        EXPECT_EQ(std::u16string(out.data(), written), c.units);
        EXPECT_EQ(out.back(), kGuardUnit);
    }
}

TEST(Utf8Kernel, Decode_TooSmallOutputGivesNoFitAndStaysInBounds) {
    for (const DecodeCase& c : DecodeCases()) {
        if (c.units.empty()) continue;
        SCOPED_TRACE(c.name);
        const std::size_t room = c.units.size() - 1;
        std::vector<char16_t> out(c.units.size(), kGuardUnit);
        EXPECT_EQ(utf8::DecodeToUtf16(c.bytes, std::span(out).first(room)), utf8::kNoFit);
        EXPECT_EQ(out.back(), kGuardUnit);
    }
}

struct EncodeCase {
    const char* name;
    std::u16string units;
    std::string bytes;
};

std::vector<EncodeCase> EncodeCases() {
    return {
        {"empty", u"", ""},
        {"zero units", u"\0a\0"s, "\0a\0"s},
        {"exactly one ASCII block", std::u16string(8, u'q'), std::string(8, 'q')},
        {"ASCII block plus tail", std::u16string(13, u'q'), std::string(13, 'q')},
        {"U+007F and U+0080", u"\u007F\u0080", "\x7F\xC2\x80"},
        {"U+07FF and U+0800", u"\u07FF\u0800", "\xDF\xBF\xE0\xA0\x80"},
        {"U+FFFF", u"\uFFFF", "\xEF\xBF\xBF"},
        {"pair", u"\U0010FFFF", "\xF4\x8F\xBF\xBF"},
        {"lone high at end", u"ab\xD800"s, "ab\xEF\xBF\xBD"},
        {"lone low",
         u"\xDFFF"
         u"b"s,
         "\xEF\xBF\xBD"
         "b"},
        {"non-ASCII inside a block", u"abc\u00E9defghijk",
         "abc\xC3\xA9"
         "defghijk"},
    };
}

TEST(Utf8Kernel, Encode_CountMatchesBytesWritten) {
    for (const EncodeCase& c : EncodeCases()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(utf8::Utf8Length(c.units), c.bytes.size());
        std::vector<char> out(c.bytes.size() + 1, kGuardByte);
        const std::size_t written = utf8::EncodeFromUtf16(c.units, std::span(out).first(c.bytes.size()));
        ASSERT_EQ(written, c.bytes.size());
        EXPECT_EQ(std::string(out.data(), written), c.bytes);
        EXPECT_EQ(out.back(), kGuardByte);
    }
}

TEST(Utf8Kernel, Encode_TooSmallOutputGivesNoFitAndStaysInBounds) {
    for (const EncodeCase& c : EncodeCases()) {
        if (c.bytes.empty()) continue;
        SCOPED_TRACE(c.name);
        const std::size_t room = c.bytes.size() - 1;
        std::vector<char> out(c.bytes.size(), kGuardByte);
        EXPECT_EQ(utf8::EncodeFromUtf16(c.units, std::span(out).first(room)), utf8::kNoFit);
        EXPECT_EQ(out.back(), kGuardByte);
    }
}

// Every pair of bytes, checked against the UTF-8 table written out independently: a valid
// two-byte character is one unit, a valid start of a longer sequence is one U+FFFD, anything
// else is two pieces (ASCII stays, every other byte is U+FFFD).
bool StartsLongerSequence(int a, int b) {
    if ((b & 0xC0) != 0x80) return false;
    if (a == 0xE0) return b >= 0xA0;
    if (a == 0xED) return b <= 0x9F;
    if (a == 0xF0) return b >= 0x90;
    if (a == 0xF4) return b <= 0x8F;
    return (a >= 0xE1 && a <= 0xEF) || (a >= 0xF1 && a <= 0xF3);
}

TEST(Utf8Kernel, Decode_EveryBytePairMatchesTheTable) {
    int mismatches = 0;
    for (int a = 0; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) {
            const std::string bytes = {static_cast<char>(a), static_cast<char>(b)};
            std::u16string expected;
            if (a >= 0xC2 && a <= 0xDF && (b & 0xC0) == 0x80)
                expected = {static_cast<char16_t>((a & 0x1F) << 6 | (b & 0x3F))};
            else if (StartsLongerSequence(a, b))
                expected = u"\uFFFD";
            else
                expected = {a < 0x80 ? static_cast<char16_t>(a) : u'\uFFFD',
                            b < 0x80 ? static_cast<char16_t>(b) : u'\uFFFD'};
            std::u16string out(2, kGuardUnit);
            const std::size_t count = utf8::Utf16Length(bytes);
            const std::size_t written = utf8::DecodeToUtf16(bytes, std::span(out));
            if (count != expected.size() || written != expected.size() || out.substr(0, written) != expected) {
                if (++mismatches <= 5) ADD_FAILURE() << std::hex << "bytes " << a << " " << b;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

}  // namespace
