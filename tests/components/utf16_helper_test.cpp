// The component libraries' UTF-8 helper: exact conversions and what becomes U+FFFD.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/utf16.hpp"

namespace kivfld::components {
namespace {

struct Utf8Case {
    std::string name;
    std::string utf8;
    std::u16string units;
};

TEST(ComponentUtf16, Utf8ToUtf16xValidTextxExactUnits) {
    const std::vector<Utf8Case> cases{
        {"empty", "", u""},
        {"ascii with zero", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
        {"two-byte", "\xC3\xBC", u"\u00FC"},
        {"three-byte", "\xE2\x82\xAC", u"\u20AC"},
        {"four-byte becomes a surrogate pair", "\xF0\x9F\x93\x8D", u"\U0001F4CD"},
        {"highest scalar", "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FromUtf8(c.utf8), c.units);
        EXPECT_EQ(ToUtf8(c.units), c.utf8) << "and back";
    }
}

TEST(ComponentUtf16, Utf8ToUtf16xInvalidSequencesxOneReplacementPerMaximalSubpart) {
    const std::vector<Utf8Case> cases{
        {"stray continuation", "a\x80z", u"a\uFFFDz"},
        {"truncated three-byte at the end", "a\xE2\x82", u"a\uFFFD"},
        {"truncated three-byte before ascii", "\xE2\x82z", u"\uFFFDz"},
        {"overlong two-byte", "\xC0\xAF", u"\uFFFD\uFFFD"},
        {"overlong three-byte", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
        {"encoded surrogate", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"invalid lead", "\xFF", u"\uFFFD"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FromUtf8(c.utf8), c.units);
    }
}

TEST(ComponentUtf16, Utf16ToUtf8xLoneSurrogatesxReplacementCharacter) {
    EXPECT_EQ(ToUtf8(std::u16string{u'a', char16_t(0xD800), u'b'}),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(ToUtf8(std::u16string{char16_t(0xDC00)}), "\xEF\xBF\xBD");
    EXPECT_EQ(ToUtf8(std::u16string{char16_t(0xD83D)}), "\xEF\xBF\xBD") << "high surrogate at the end";
}

TEST(ComponentUtf16, ComponentStringToUtf8xNullAndEmptyxBothEmptyText) {
    EXPECT_EQ(ToUtf8(kiv::runtime::String()), "");
    EXPECT_EQ(ToUtf8(kiv::runtime::String::Empty()), "");
    const kiv::runtime::String converted = ToComponentString("");
    EXPECT_FALSE(converted.IsNull()) << "empty text gives the empty string, never null";
    EXPECT_EQ(std::u16string(ToComponentString("K\xC3\xA4se").View()), u"K\u00E4se");
}

}  // namespace
}  // namespace kivfld::components
