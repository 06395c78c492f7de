// zul::marshal conversions through the calling thread's locale: values, replacements, errors.
#include "foundation/marshal.hpp"

#include <gtest/gtest.h>
#include <locale.h>

#include <barrier>
#include <climits>
#include <cstring>
#include <string>
#include <thread>
#include <typeinfo>
#include <vector>

#include "foundation/narrow_codepage.hpp"
#include "kiv/runtime/errors.hpp"
#include "kiv/runtime/memory.hpp"
#include "support/thread_locale.hpp"

namespace {

using namespace std::string_literals;
using kiv::runtime::String;
using zul::marshal::ComponentStringList;
using zul::marshal::marshal_as;
namespace fld = kiv::fld::testing;

using Optional = std::optional<std::string>;

constexpr const char* kCLocale = "C";

const std::string kSizeExceedsIntMax = "Size of string exceeds INT_MAX.";
const std::string kNarrowToWideFailed =
    "Conversion from MultiByte to WideChar failed.  Please check the content of the string and/or locale settings.";
const std::string kWideToNarrowFailed =
    "Conversion from WideChar to MultiByte failed.  Please check the content of the string and/or locale settings.";
const std::string kNullNotSupported = "NULLPTR is not supported for this conversion.";

std::u16string Units(const String& s) { return std::u16string(s.View()); }

// Checks the exact error type (not a base or a subclass) and the exact text.
template <class Error, class Call>
void ExpectRaises(Call&& call, const std::string& message) {
    try {
        call();
        ADD_FAILURE() << "expected " << typeid(Error).name() << ", nothing was raised";
    } catch (const kiv::runtime::ComponentError& e) {
        EXPECT_EQ(typeid(e), typeid(Error)) << "raised " << typeid(e).name() << ": " << e.Message();
        EXPECT_EQ(e.Message(), message);
    }
}

template <class Error, class Call>
void ExpectRaisesType(Call&& call) {
    try {
        call();
        ADD_FAILURE() << "expected " << typeid(Error).name() << ", nothing was raised";
    } catch (const kiv::runtime::ComponentError& e) {
        EXPECT_EQ(typeid(e), typeid(Error)) << "raised " << typeid(e).name() << ": " << e.Message();
    }
}

const char* const kAllLocales[] = {kCLocale, fld::kUtf8Locale, fld::kLatin1Locale, fld::kGbkLocale, fld::kEucJpLocale};

// ---- null and empty ------------------------------------------------------------------------------

TEST(NarrowToComponent, ConvertEmpty_GivesEmptyNotNull) {
    for (const char* locale : kAllLocales) {
        SCOPED_TRACE(locale);
        fld::ScopedThreadLocale scoped(locale);
        ASSERT_TRUE(scoped.Active());
        const String result = marshal_as<String>(std::string());
        EXPECT_FALSE(result.IsNull());
        EXPECT_EQ(result.Length(), 0);
    }
}

TEST(ComponentToNarrow, ConvertNull_RaisesArgumentNull) {
    for (const char* locale : kAllLocales) {
        SCOPED_TRACE(locale);
        fld::ScopedThreadLocale scoped(locale);
        ASSERT_TRUE(scoped.Active());
        ExpectRaises<kiv::runtime::ArgumentNullError>([] { (void)marshal_as<std::string>(String()); },
                                                      kNullNotSupported);
    }
}

TEST(ComponentToNarrow, ConvertEmpty_GivesEmpty) {
    for (const char* locale : kAllLocales) {
        SCOPED_TRACE(locale);
        fld::ScopedThreadLocale scoped(locale);
        ASSERT_TRUE(scoped.Active());
        EXPECT_EQ(marshal_as<std::string>(String::Empty()), "");
        EXPECT_EQ(marshal_as<std::string>(String(u"")), "");
    }
}

TEST(ComponentToOptional, Convert_NullAbsentEmptyPresent) {
    struct Case {
        const char* name;
        String input;
        Optional expected;
    };
    const Case cases[] = {
        {"null gives absent", String(), std::nullopt},
        {"empty gives present empty", String::Empty(), Optional("")},
        {"text gives present text", String(u"abc"), Optional("abc")},
    };
    for (const char* locale : kAllLocales) {
        fld::ScopedThreadLocale scoped(locale);
        ASSERT_TRUE(scoped.Active());
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(locale) + ": " + c.name);
            const Optional result = marshal_as<Optional>(c.input);
            EXPECT_EQ(result, c.expected);
        }
    }
}

// ---- representable text ------------------------------------------------------------------------

std::string Latin1AllBytes() {
    std::string bytes;
    for (int b = 1; b <= 0xFF; ++b) bytes.push_back(static_cast<char>(b));
    return bytes;
}

std::u16string Latin1AllUnits() {
    std::u16string units;
    for (int u = 1; u <= 0xFF; ++u) units.push_back(static_cast<char16_t>(u));
    return units;
}

struct TextCase {
    const char* name;
    const char* locale;
    std::string narrow;
    std::u16string units;
};

std::vector<TextCase> RepresentableText() {
    return {
        {"embedded zero", kCLocale, "a\0b"s, u"a\0b"s},
        {"embedded zero", fld::kUtf8Locale, "a\0b"s, u"a\0b"s},
        {"embedded zero", fld::kLatin1Locale, "a\0b"s, u"a\0b"s},
        {"embedded zero", fld::kGbkLocale, "a\0b"s, u"a\0b"s},
        {"embedded zero", fld::kEucJpLocale, "a\0b"s, u"a\0b"s},
        {"only zeros", fld::kUtf8Locale, "\0\0"s, u"\0\0"s},
        {"only zeros", fld::kGbkLocale, "\0\0"s, u"\0\0"s},
        {"ascii", kCLocale, "plain ASCII text, long enough for whole blocks",
         u"plain ASCII text, long enough for whole blocks"},
        {"C locale reads UTF-8", kCLocale,
         "Gr\xC3\xBC\xC3\x9F"
         "e \xE2\x82\xAC",
         u"Grüße €"},
        {"mixed scripts", fld::kUtf8Locale,
         "Gr\xC3\xBC\xC3\x9F"
         "e, \xF0\x9D\x84\x9E \xE2\x82\xAC \xE4\xB8\xAD\xEF\xBF\xBD",
         u"Grüße, \U0001D11E € 中\uFFFD"},
        {"non-ASCII inside long ASCII runs", fld::kUtf8Locale,
         std::string(40, 'x') + "\xC3\xA9" + std::string(21, 'y') + "\xF0\x9F\x98\x80" + std::string(17, 'z'),
         std::u16string(40, u'x') + u"é" + std::u16string(21, u'y') + u"\U0001F600" + std::u16string(17, u'z')},
        {"U+0080", fld::kUtf8Locale, "\xC2\x80", u"\u0080"},
        {"U+07FF", fld::kUtf8Locale, "\xDF\xBF", u"\u07FF"},
        {"U+0800", fld::kUtf8Locale, "\xE0\xA0\x80", u"\u0800"},
        {"U+D7FF", fld::kUtf8Locale, "\xED\x9F\xBF", u"\uD7FF"},
        {"U+E000", fld::kUtf8Locale, "\xEE\x80\x80", u"\uE000"},
        {"U+FFFF", fld::kUtf8Locale, "\xEF\xBF\xBF", u"\uFFFF"},
        {"U+10000", fld::kUtf8Locale, "\xF0\x90\x80\x80", u"\U00010000"},
        {"U+10FFFF", fld::kUtf8Locale, "\xF4\x8F\xBF\xBF", u"\U0010FFFF"},
        {"every Latin-1 byte", fld::kLatin1Locale, Latin1AllBytes(), Latin1AllUnits()},
        {"German", fld::kLatin1Locale,
         "Gr\xFC\xDF"
         "e",
         u"Grüße"},
        {"GB2312 hanzi", fld::kGbkLocale, "\xD6\xD0\xCE\xC4", u"中文"},
        {"GBK with ASCII", fld::kGbkLocale,
         "a\xD6\xD0"
         "b\xA1\xA1"
         "c",
         u"a中b\u3000c"},
        {"JIS X 0208 kanji", fld::kEucJpLocale, "\xC6\xFC\xCB\xDC\xB8\xEC", u"日本語"},
        {"half-width katakana", fld::kEucJpLocale, "\x8E\xB1", u"ｱ"},
        {"JIS X 0212 kanji", fld::kEucJpLocale, "x\x8F\xB0\xA1y", u"x丂y"},
    };
}

TEST(NarrowToComponent, ConvertRepresentableText_GivesUnits) {
    for (const TextCase& c : RepresentableText()) {
        SCOPED_TRACE(std::string(c.locale) + ": " + c.name);
        fld::ScopedThreadLocale scoped(c.locale);
        ASSERT_TRUE(scoped.Active());
        const String result = marshal_as<String>(c.narrow);
        EXPECT_FALSE(result.IsNull());
        EXPECT_EQ(Units(result), c.units);
    }
}

TEST(ComponentToNarrow, ConvertRepresentableText_GivesBytes) {
    for (const TextCase& c : RepresentableText()) {
        SCOPED_TRACE(std::string(c.locale) + ": " + c.name);
        fld::ScopedThreadLocale scoped(c.locale);
        ASSERT_TRUE(scoped.Active());
        EXPECT_EQ(marshal_as<std::string>(String(c.units)), c.narrow);
        EXPECT_EQ(marshal_as<Optional>(String(c.units)), Optional(c.narrow));
    }
}

TEST(NarrowToComponent, RoundTripRepresentableText_GivesSameBytes) {
    for (const TextCase& c : RepresentableText()) {
        SCOPED_TRACE(std::string(c.locale) + ": " + c.name);
        fld::ScopedThreadLocale scoped(c.locale);
        ASSERT_TRUE(scoped.Active());
        EXPECT_EQ(marshal_as<std::string>(marshal_as<String>(c.narrow)), c.narrow);
    }
}

// ---- characters the code page lacks ------------------------------------------------------------

TEST(ComponentToNarrow, ConvertUnrepresentable_GivesDefaultCharacter) {
    const TextCase cases[] = {
        {"euro sign", fld::kLatin1Locale, "a?b", u"a€b"},
        {"A with macron, no look-alike", fld::kLatin1Locale, "?", u"Ā"},
        {"latin small a with macron next to plain a", fld::kLatin1Locale, "a?", u"aā"},
        {"CJK", fld::kLatin1Locale, "x??y", u"x中文y"},
        {"supplementary character is one default", fld::kLatin1Locale, "a?b", u"a\U0001F600b"},
        {"Thai", fld::kGbkLocale, "?\xD6\xD0", u"ก中"},
        {"supplementary character", fld::kGbkLocale, "?", u"\U0001F600"},
        {"Hangul", fld::kEucJpLocale, "?\xC6\xFC", u"한日"},
        {"euro sign", fld::kEucJpLocale, "1?", u"1€"},
        // Unicode tag characters, which glibc's converters would drop without a word.
        {"tag character alone", fld::kGbkLocale, "?", u"\U000E0019"},
        {"tag character inside text", fld::kGbkLocale, "a?\xD6\xD0", u"a\U000E0041中"},
        {"tag characters in a row", fld::kEucJpLocale, "??\xC6\xFC", u"\U000E0001\U000E007F日"},
        {"lone high surrogate before a tag character", fld::kGbkLocale, "??", u"\xD800\U000E0020"},
        {"tag character in a single-byte codeset", fld::kLatin1Locale, "x?", u"x\U000E0030"},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(std::string(c.locale) + ": " + c.name);
        fld::ScopedThreadLocale scoped(c.locale);
        ASSERT_TRUE(scoped.Active());
        EXPECT_EQ(marshal_as<std::string>(String(c.units)), c.narrow);
    }
}

TEST(ComponentToNarrow, ConvertLoneSurrogates_GivesDefaultCharacter) {
    struct Case {
        const char* name;
        std::u16string units;
        std::string utf8;    // U+FFFD per lone surrogate
        std::string others;  // '?' per lone surrogate
    };
    const Case cases[] = {
        {"high alone", u"\xD800"s, "\xEF\xBF\xBD", "?"},
        {"low alone", u"\xDC00"s, "\xEF\xBF\xBD", "?"},
        {"high before a letter",
         u"\xD83D"
         u"a"s,
         "\xEF\xBF\xBD"
         "a",
         "?a"},
        {"high at the end", u"a\xD83D"s, "a\xEF\xBF\xBD", "a?"},
        {"low between letters",
         u"a\xDC00"
         u"b"s,
         "a\xEF\xBF\xBD"
         "b",
         "a?b"},
        {"reversed pair", u"\xDE00\xD83D"s, "\xEF\xBF\xBD\xEF\xBF\xBD", "??"},
        {"two highs", u"\xD83D\xD83D"s, "\xEF\xBF\xBD\xEF\xBF\xBD", "??"},
    };
    const char* const nonUtf8[] = {fld::kLatin1Locale, fld::kGbkLocale, fld::kEucJpLocale};
    for (const Case& c : cases) {
        {
            SCOPED_TRACE(std::string("UTF-8: ") + c.name);
            fld::ScopedThreadLocale scoped(fld::kUtf8Locale);
            ASSERT_TRUE(scoped.Active());
            EXPECT_EQ(marshal_as<std::string>(String(c.units)), c.utf8);
        }
        for (const char* locale : nonUtf8) {
            SCOPED_TRACE(std::string(locale) + ": " + c.name);
            fld::ScopedThreadLocale scoped(locale);
            ASSERT_TRUE(scoped.Active());
            EXPECT_EQ(marshal_as<std::string>(String(c.units)), c.others);
        }
    }
    // A high surrogate followed by a complete pair: one replacement, then the character.
    fld::ScopedThreadLocale scoped(fld::kUtf8Locale);
    ASSERT_TRUE(scoped.Active());
    EXPECT_EQ(marshal_as<std::string>(String(u"\xD800\xD800\xDC00"s)), "\xEF\xBF\xBD\xF0\x90\x80\x80");
}

TEST(ComponentToNarrow, ConvertInStatefulCodeset_ReturnsToInitialState) {
    struct Case {
        const char* name;
        std::u16string units;
        std::string expected;
    };
    // 日 is JIS 0x467C ("F|"); ESC $ B enters JIS X 0208, ESC ( B returns to ASCII.
    const Case cases[] = {
        {"ends shifted", u"日", "\x1B$BF|\x1B(B"},
        {"shifts back for ASCII", u"日a",
         "\x1B$BF|\x1B(B"
         "a"},
        {"default character from the initial state", u"日€", "\x1B$BF|\x1B(B?"},
        {"default character then kanji", u"€日", "?\x1B$BF|\x1B(B"},
    };
    zul::text::testing::ScopedCodesetOverride codeset("ISO-2022-JP");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(marshal_as<std::string>(String(c.units)), c.expected);
    }
}

// ---- undecodable input -------------------------------------------------------------------------

TEST(NarrowToComponent, ConvertInvalidUtf8_GivesOneReplacementPerMaximalSubpart) {
    struct Case {
        const char* name;
        std::string narrow;
        std::u16string expected;
    };
    const Case cases[] = {
        {"lone continuation", "\x80", u"\uFFFD"},
        {"two lone continuations", "\xBF\x80", u"\uFFFD\uFFFD"},
        {"lone continuation between letters",
         "a\x80"
         "b",
         u"a\uFFFD"
         "b"},
        {"overlong C0", "\xC0\xAF", u"\uFFFD\uFFFD"},
        {"overlong C1", "\xC1\xBF", u"\uFFFD\uFFFD"},
        {"overlong E0 80", "\xE0\x80\xAF", u"\uFFFD\uFFFD\uFFFD"},
        {"overlong E0 9F", "\xE0\x9F\xBF", u"\uFFFD\uFFFD\uFFFD"},
        {"overlong F0 80", "\xF0\x80\x80\xAF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"overlong F0 8F", "\xF0\x8F\xBF\xBF", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"surrogate D800 in UTF-8", "\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},
        {"surrogate DFFF in UTF-8", "\xED\xBF\xBF", u"\uFFFD\uFFFD\uFFFD"},
        {"surrogate pair in UTF-8", "\xED\xA0\xBD\xED\xB8\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"above U+10FFFF", "\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"F5 lead", "\xF5\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"five-byte form", "\xF8\x88\x80\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD"},
        {"FE", "\xFE", u"\uFFFD"},
        {"FF", "\xFF", u"\uFFFD"},
        {"truncated two-byte at end", "\xC3", u"\uFFFD"},
        {"truncated two-byte before letter",
         "\xC3"
         "a",
         u"\uFFFD"
         "a"},
        {"truncated three-byte at end", "\xE2\x82", u"\uFFFD"},
        {"truncated three-byte before letter",
         "\xE2\x82"
         "a",
         u"\uFFFD"
         "a"},
        {"truncated four-byte, three bytes", "\xF0\x9F\x98", u"\uFFFD"},
        {"truncated four-byte, two bytes", "\xF0\x9F", u"\uFFFD"},
        {"truncated four-byte, lead only", "\xF0", u"\uFFFD"},
        {"truncated then two-byte", "\xE2\x82\xC3\xA9", u"\uFFFDé"},
        {"truncated then four-byte", "\xF0\x9F\x98\xF0\x9F\x98\x80", u"\uFFFD\U0001F600"},
        {"Unicode 3.9 example", "\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64",
         u"a\uFFFD\uFFFD\uFFFD"
         "b\uFFFD"
         "c\uFFFD\uFFFD"
         "d"},
        {"invalid byte inside long ASCII runs", std::string(20, 'a') + "\xFF" + std::string(20, 'b'),
         std::u16string(20, u'a') + u"\uFFFD" + std::u16string(20, u'b')},
    };
    for (const char* locale : {fld::kUtf8Locale, kCLocale}) {
        fld::ScopedThreadLocale scoped(locale);
        ASSERT_TRUE(scoped.Active());
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(locale) + ": " + c.name);
            EXPECT_EQ(Units(marshal_as<String>(c.narrow)), c.expected);
        }
    }
}

TEST(NarrowToComponent, ConvertInvalidMultibyte_GivesReplacement) {
    const TextCase cases[] = {
        {"byte that is never a lead", fld::kGbkLocale,
         "a\xFF"
         "b",
         u"a\uFFFD"
         "b"},
        {"lead at the end", fld::kGbkLocale, "a\x81", u"a\uFFFD"},
        {"lead before a space", fld::kGbkLocale, "\x81 x", u"\uFFFD x"},
        {"lead before DEL", fld::kGbkLocale, "\x81\x7F", u"\uFFFD\x7F"},
        {"invalid between hanzi", fld::kGbkLocale, "\xD6\xD0\xFF\xCE\xC4", u"中\uFFFD文"},
        {"lead at the end", fld::kEucJpLocale, "\xA1", u"\uFFFD"},
        {"truncated three-byte at the end is one replacement", fld::kEucJpLocale, "x\x8F\xB0", u"x\uFFFD"},
        {"lead before a space", fld::kEucJpLocale, "\xA1 ", u"\uFFFD "},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(std::string(c.locale) + ": " + c.name);
        fld::ScopedThreadLocale scoped(c.locale);
        ASSERT_TRUE(scoped.Active());
        EXPECT_EQ(Units(marshal_as<String>(c.narrow)), c.units);
    }
}

// ---- converter failures ------------------------------------------------------------------------

TEST(NarrowToComponent, ConvertWithoutConverter_RaisesArgumentError) {
    zul::text::testing::ScopedCodesetOverride codeset("NO-SUCH-CODESET");
    ExpectRaises<kiv::runtime::ArgumentError>([] { (void)marshal_as<String>("abc"s); }, kNarrowToWideFailed);
    EXPECT_FALSE(marshal_as<String>(std::string()).IsNull());
}

TEST(NarrowToComponent, ConvertOnlyShiftSequences_RaisesArgumentError) {
    zul::text::testing::ScopedCodesetOverride codeset("ISO-2022-JP");
    ExpectRaises<kiv::runtime::ArgumentError>([] { (void)marshal_as<String>("\x1B(B"s); }, kNarrowToWideFailed);
    EXPECT_EQ(Units(marshal_as<String>("\x1B$BF|\x1B(B"
                                       "a"s)),
              u"日a");
}

TEST(ComponentToNarrow, ConvertWithoutConverter_RaisesArgumentError) {
    zul::text::testing::ScopedCodesetOverride codeset("NO-SUCH-CODESET");
    ExpectRaises<kiv::runtime::ArgumentError>([] { (void)marshal_as<std::string>(String(u"abc")); },
                                              kWideToNarrowFailed);
    ExpectRaises<kiv::runtime::ArgumentError>([] { (void)marshal_as<Optional>(String(u"abc")); }, kWideToNarrowFailed);
    EXPECT_EQ(marshal_as<Optional>(String()), std::nullopt);
    EXPECT_EQ(marshal_as<std::string>(String::Empty()), "");
}

// ---- size limits (each needs about 2 GB of memory) ---------------------------------------------

TEST(NarrowToComponent, ConvertOversized_RaisesArgumentOutOfRange) {
    fld::ScopedThreadLocale scoped(fld::kUtf8Locale);
    ASSERT_TRUE(scoped.Active());
    std::string bytes(static_cast<std::size_t>(INT_MAX) + 1, 'a');
    ExpectRaises<kiv::runtime::ArgumentOutOfRangeError>([&] { (void)marshal_as<String>(bytes); }, kSizeExceedsIntMax);
    // INT_MAX bytes are accepted, but INT_MAX units are one too many for a component string.
    bytes.resize(INT_MAX);
    ExpectRaises<kiv::runtime::ArgumentOutOfRangeError>([&] { (void)marshal_as<String>(bytes); }, kSizeExceedsIntMax);
}

TEST(ComponentToNarrow, ConvertOversized_RaisesArgumentOutOfRange) {
    fld::ScopedThreadLocale scoped(fld::kUtf8Locale);
    ASSERT_TRUE(scoped.Active());
    // Three UTF-8 bytes per unit: 715827883 daggers (U+2020, both bytes 0x20) need 2147483649 bytes.
    constexpr std::int32_t kUnits = 715827883;
    const String units = String::Create(kUnits, [](char16_t* storage) {
        std::memset(storage, 0x20, static_cast<std::size_t>(kUnits) * sizeof(char16_t));
    });
    ASSERT_EQ(units.View().substr(0, 2), u"††");
    ExpectRaises<kiv::runtime::ArgumentOutOfRangeError>([&] { (void)marshal_as<std::string>(units); },
                                                        kSizeExceedsIntMax);
}

// ---- lists -------------------------------------------------------------------------------------

TEST(NarrowListToComponent, Convert_KeepsOrderAndEmpties) {
    struct Case {
        const char* name;
        const char* locale;
        std::vector<std::string> input;
        std::vector<std::u16string> expected;
    };
    const Case cases[] = {
        {"middle empty", fld::kUtf8Locale, {"first", "", "th\xC3\xAFrd"}, {u"first", u"", u"thïrd"}},
        {"middle empty", fld::kGbkLocale, {"\xD6\xD0", "", "\xCE\xC4"}, {u"中", u"", u"文"}},
        {"all empty", fld::kLatin1Locale, {"", "", ""}, {u"", u"", u""}},
        {"single", fld::kLatin1Locale, {"\xE9"}, {u"é"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.locale) + ": " + c.name);
        fld::ScopedThreadLocale scoped(c.locale);
        ASSERT_TRUE(scoped.Active());
        const ComponentStringList list = marshal_as<ComponentStringList>(c.input);
        ASSERT_TRUE(list);
        EXPECT_EQ(list->Capacity(), static_cast<std::int32_t>(c.expected.size()));
        ASSERT_EQ(list->Count(), static_cast<std::int32_t>(c.expected.size()));
        for (std::int32_t i = 0; i < list->Count(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_FALSE((*list)[i].IsNull());
            EXPECT_EQ(Units((*list)[i]), c.expected[static_cast<std::size_t>(i)]);
        }
    }
}

TEST(NarrowListToComponent, ConvertEmptyVector_GivesEmptyList) {
    const ComponentStringList list = marshal_as<ComponentStringList>(std::vector<std::string>());
    ASSERT_TRUE(list);
    EXPECT_EQ(list->Count(), 0);
    EXPECT_EQ(list->Capacity(), 0);
}

TEST(NarrowListToComponent, ConvertWithFailingElement_PassesErrorAndDropsList) {
    zul::text::testing::ScopedCodesetOverride codeset("NO-SUCH-CODESET");
    const std::int64_t liveBefore = kiv::runtime::Object::LiveCount();
    const std::vector<std::string> input = {"", "text", ""};
    ExpectRaises<kiv::runtime::ArgumentError>([&] { (void)marshal_as<ComponentStringList>(input); },
                                              kNarrowToWideFailed);
    EXPECT_EQ(kiv::runtime::Object::LiveCount(), liveBefore);
}

// ---- allocation failure ------------------------------------------------------------------------

TEST(NarrowToComponent, ConvertWhenAllocationFails_RaisesOutOfMemory) {
    const TextCase cases[] = {
        {"ASCII", fld::kUtf8Locale, "abc", u"abc"},
        {"hanzi", fld::kGbkLocale, "\xD6\xD0", u"中"},
    };
    for (const TextCase& c : cases) {
        SCOPED_TRACE(std::string(c.locale) + ": " + c.name);
        fld::ScopedThreadLocale scoped(c.locale);
        ASSERT_TRUE(scoped.Active());
        kiv::runtime::testing::FailNextAllocation();
        ExpectRaisesType<kiv::runtime::OutOfMemoryError>([&] { (void)marshal_as<String>(c.narrow); });
        EXPECT_FALSE(kiv::runtime::testing::AllocationFailurePending());
        EXPECT_EQ(Units(marshal_as<String>(c.narrow)), c.units);  // nothing left broken
    }
}

TEST(NarrowListToComponent, ConvertWhenAllocationFails_RaisesOutOfMemoryAndDropsList) {
    fld::ScopedThreadLocale scoped(fld::kUtf8Locale);
    ASSERT_TRUE(scoped.Active());
    // The list object, its storage, then one string per non-empty element (empty ones share
    // storage that is never allocated).
    const std::vector<std::string> input = {"a", "", "b", "c"};
    constexpr std::uint32_t kAllocations = 5;
    const std::int64_t liveBefore = kiv::runtime::Object::LiveCount();
    for (std::uint32_t succeeding = 0; succeeding < kAllocations; ++succeeding) {
        SCOPED_TRACE(succeeding);
        kiv::runtime::testing::FailAllocationAfter(succeeding);
        ExpectRaisesType<kiv::runtime::OutOfMemoryError>([&] { (void)marshal_as<ComponentStringList>(input); });
        EXPECT_FALSE(kiv::runtime::testing::AllocationFailurePending());
        EXPECT_EQ(kiv::runtime::Object::LiveCount(), liveBefore);
    }
    kiv::runtime::testing::FailAllocationAfter(kAllocations);
    const ComponentStringList list = marshal_as<ComponentStringList>(input);
    EXPECT_TRUE(kiv::runtime::testing::AllocationFailurePending());
    kiv::runtime::testing::CancelAllocationFailure();
    ASSERT_TRUE(list);
    EXPECT_EQ(list->Count(), 4);
}

// ---- which locale counts -----------------------------------------------------------------------

TEST(NarrowToComponent, ConvertOnTwoThreadsWithDifferentLocales_EachUsesItsOwn) {
    struct Side {
        const char* locale;
        std::u16string expectedUnits;  // of the shared bytes
        std::string expectedNarrow;    // of the shared units
    };
    const std::string bytes = "caf\xC3\xA9";
    const String units(u"café");
    const Side sides[] = {
        {fld::kUtf8Locale, u"café", "caf\xC3\xA9"},
        {fld::kLatin1Locale, u"cafÃ©", "caf\xE9"},
    };
    constexpr int kRounds = 2000;
    std::barrier start(2);
    int wrong[2] = {0, 0};
    bool active[2] = {false, false};
    std::vector<std::thread> threads;
    for (int t = 0; t < 2; ++t) {
        threads.emplace_back([&, t] {
            fld::ScopedThreadLocale scoped(sides[t].locale);
            active[t] = scoped.Active();
            start.arrive_and_wait();
            for (int i = 0; i < kRounds; ++i) {
                if (Units(marshal_as<String>(bytes)) != sides[t].expectedUnits) ++wrong[t];
                if (marshal_as<std::string>(units) != sides[t].expectedNarrow) ++wrong[t];
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    for (int t = 0; t < 2; ++t) {
        SCOPED_TRACE(sides[t].locale);
        EXPECT_TRUE(active[t]);
        EXPECT_EQ(wrong[t], 0);
    }
}

TEST(NarrowToComponent, ConvertAfterLocaleChange_FollowsTheChange) {
    const std::string bytes = "\xC3\xA9";
    {
        fld::ScopedThreadLocale scoped(fld::kUtf8Locale);
        ASSERT_TRUE(scoped.Active());
        EXPECT_EQ(Units(marshal_as<String>(bytes)), u"é");
    }
    {
        fld::ScopedThreadLocale scoped(fld::kLatin1Locale);
        ASSERT_TRUE(scoped.Active());
        EXPECT_EQ(Units(marshal_as<String>(bytes)), u"Ã©");
    }
    {
        fld::ScopedThreadLocale scoped(fld::kUtf8Locale);
        ASSERT_TRUE(scoped.Active());
        EXPECT_EQ(Units(marshal_as<String>(bytes)), u"é");
    }
}

TEST(NarrowToComponent, ConvertWithoutThreadLocale_UsesGlobalLocale) {
    const locale_t previous = uselocale(LC_GLOBAL_LOCALE);
    const std::string previousGlobal = setlocale(LC_ALL, nullptr);
    ASSERT_NE(setlocale(LC_ALL, fld::kLatin1Locale), nullptr) << fld::kLatin1Locale << " is not installed";
    EXPECT_EQ(Units(marshal_as<String>("\xC3\xA9"s)), u"Ã©");
    EXPECT_EQ(marshal_as<std::string>(String(u"é")), "\xE9");
    {
        // A thread locale wins over the global one.
        fld::ScopedThreadLocale scoped(fld::kUtf8Locale);
        ASSERT_TRUE(scoped.Active());
        EXPECT_EQ(Units(marshal_as<String>("\xC3\xA9"s)), u"é");
    }
    setlocale(LC_ALL, previousGlobal.c_str());
    uselocale(previous);
}

}  // namespace
