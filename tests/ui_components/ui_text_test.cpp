// The text side of the sample UI libraries on its own: the key=value data, the fields an update
// changes, text made safe for the terminal, wrapping, frames, and the frame checksum.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "KivFldMapAreasManagedUI/frame_receiver.hpp"
#include "common/crc32.hpp"
#include "common/fields.hpp"
#include "common/terminal.hpp"
#include "kiv/runtime/errors.hpp"

namespace kivfld::components {
namespace {

TEST(UiData, ParseFieldsxValidTextxFieldsInOrder) {
    struct Case {
        const char* name;
        std::string text;
        std::vector<Field> expected;
    };
    const Case cases[] = {
        {"empty", "", {}},
        {"one line without a final break", "a=1", {{"a", "1"}}},
        {"LF and CRLF", "a=1\nb=2\r\nc=3\r\n", {{"a", "1"}, {"b", "2"}, {"c", "3"}}},
        {"blanks around key and value", " \ta \t= \t1 2 \t", {{"a", "1 2"}}},
        {"comments and empty lines skipped", "# note\n\n  # indented\na=1\n   \n", {{"a", "1"}}},
        {"'=' inside the value", "url=a=b=c", {{"url", "a=b=c"}}},
        {"empty value", "a=", {{"a", ""}}},
        {"repeated key kept twice", "a=1\na=2", {{"a", "1"}, {"a", "2"}}},
        {"UTF-8 kept", "stadt=Z\xC3\xBCrich", {{"stadt", "Z\xC3\xBCrich"}}},
        {"CR inside a line kept", "a=1\r2", {{"a", "1\r2"}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ParseFields(c.text), c.expected);
    }
}

TEST(UiData, ParseFieldsxRefusedTextxArgumentErrorNamingTheLine) {
    struct Case {
        const char* name;
        std::string text;
        std::string message;
    };
    const Case cases[] = {
        {"no '='", "a=1\n\nb", "Line 3 of the data is not of the form key=value."},
        {"empty key", "=1", "Line 1 of the data has an empty key."},
        {"blank key", "a=1\n \t=1", "Line 2 of the data has an empty key."},
        {"control character in the key", "a\x1b=1", "Line 1 of the data has a control character in its key."},
        {"DEL in the key", "a\x7f=1", "Line 1 of the data has a control character in its key."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            ParseFields(c.text);
            ADD_FAILURE() << "no error";
        } catch (const kiv::runtime::ArgumentError& error) {
            EXPECT_EQ(error.Message(), c.message);
        }
    }
}

TEST(UiData, FieldSetApplyxUpdatesxAddedAndChangedInUpdateOrder) {
    FieldSet fields({{"name", "Ada"}, {"phone", "1"}, {"name", "Lin"}});
    EXPECT_EQ(fields.Fields(), (std::vector<Field>{{"name", "Lin"}, {"phone", "1"}}));

    const std::vector<FieldChange> changes =
        fields.Apply({{"phone", "2"}, {"name", "Lin"}, {"fax", "9"}, {"fax", "8"}});
    EXPECT_EQ(changes, (std::vector<FieldChange>{{FieldChange::Kind::Changed, "phone", "2"},
                                                 {FieldChange::Kind::Added, "fax", "9"},
                                                 {FieldChange::Kind::Changed, "fax", "8"}}));
    EXPECT_EQ(changes[0].EventText(), "changed:phone=2");
    EXPECT_EQ(changes[1].EventText(), "added:fax=9");
    EXPECT_EQ(fields.Fields(), (std::vector<Field>{{"name", "Lin"}, {"phone", "2"}, {"fax", "8"}}));
    ASSERT_NE(fields.Find("fax"), nullptr);
    EXPECT_EQ(*fields.Find("fax"), "8");
    EXPECT_EQ(fields.Find("mail"), nullptr);
}

TEST(UiTerminal, PrintablexTextxSafeForTheTerminal) {
    struct Case {
        const char* name;
        std::string text;
        TerminalStyle style;
        std::string expected;
    };
    const std::string replacement = "\xEF\xBF\xBD";
    const Case cases[] = {
        {"plain ASCII", "Hello, world", TerminalStyle::Ascii, "Hello, world"},
        {"tab becomes a space", "a\tb", TerminalStyle::Unicode, "a b"},
        {"escape sequence, Unicode", "\x1b[31mred", TerminalStyle::Unicode, replacement + "[31mred"},
        {"escape sequence, ASCII", "\x1b[31mred", TerminalStyle::Ascii, "?[31mred"},
        {"CR, BEL, DEL",
         "a\rb\x07"
         "c\x7f",
         TerminalStyle::Ascii, "a?b?c?"},
        {"C1 control (CSI)",
         "a\xC2\x9B"
         "2J",
         TerminalStyle::Unicode, "a" + replacement + "2J"},
        {"bidirectional override",
         "a\xE2\x80\xAE"
         "b",
         TerminalStyle::Unicode, "a" + replacement + "b"},
        {"line separator",
         "a\xE2\x80\xA8"
         "b",
         TerminalStyle::Unicode, "a" + replacement + "b"},
        {"non-ASCII kept in Unicode",
         "Gr\xC3\xBC\xC3\x9F"
         "e \xE6\x97\xA5",
         TerminalStyle::Unicode,
         "Gr\xC3\xBC\xC3\x9F"
         "e \xE6\x97\xA5"},
        {"non-ASCII in ASCII",
         "Gr\xC3\xBC\xC3\x9F"
         "e \xE6\x97\xA5",
         TerminalStyle::Ascii, "Gr??e ?"},
        {"invalid UTF-8",
         "a\xFF"
         "b\xC3",
         TerminalStyle::Unicode, "a" + replacement + "b" + replacement},
        {"zero byte", std::string("a\0b", 3), TerminalStyle::Ascii, "a?b"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Printable(c.text, c.style), c.expected);
    }
}

TEST(UiTerminal, ColumnsxTextxTerminalColumns) {
    struct Case {
        const char* name;
        std::string text;
        std::size_t expected;
    };
    const Case cases[] = {
        {"ASCII", "abc", 3},
        {"two-byte letters", "\xC3\xBC\xC3\x9F", 2},
        {"wide CJK", "\xE6\x97\xA5\xE6\x9C\xAC", 4},
        {"combining mark", "e\xCC\x81", 1},
        {"empty", "", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Columns(c.text), c.expected);
    }
}

TEST(UiTerminal, WrapxLongTextxPiecesWithinTheWidth) {
    struct Case {
        const char* name;
        std::string text;
        std::size_t width;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"fits", "one two", 7, {"one two"}},
        {"breaks at the last space", "one two three", 8, {"one two", "three"}},
        {"no space: between characters", "abcdefgh", 3, {"abc", "def", "gh"}},
        {"empty", "", 5, {""}},
        {"wide characters count twice",
         "\xE6\x97\xA5\xE6\x97\xA5\xE6\x97\xA5",
         4,
         {"\xE6\x97\xA5\xE6\x97\xA5", "\xE6\x97\xA5"}},
        {"multi-byte letters not cut", "\xC3\xBC\xC3\xBC\xC3\xBC", 2, {"\xC3\xBC\xC3\xBC", "\xC3\xBC"}},
        {"zero width taken as one", "abc", 0, {"a", "b", "c"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::string> pieces = Wrap(c.text, c.width);
        EXPECT_EQ(pieces, c.expected);
        for (const std::string& piece : pieces) EXPECT_LE(Columns(piece), std::max<std::size_t>(c.width, 1));
    }
}

TEST(UiTerminal, FramedxLinesxFrameAsWideAsTheWidestOfLinesAndTitle) {
    struct Case {
        const char* name;
        std::string title;
        std::vector<std::string> lines;
        TerminalStyle style;
        std::vector<std::string> expected;
    };
    const Case cases[] = {
        {"lines wider than the title",
         "T",
         {"abcdef", "ab"},
         TerminalStyle::Ascii,
         {"+- T ----+", "| abcdef |", "| ab     |", "+--------+"}},
        {"title wider than the lines",
         "Title",
         {"a"},
         TerminalStyle::Ascii,
         {"+- Title -+", "| a       |", "+---------+"}},
        {"no title", "", {"ab"}, TerminalStyle::Ascii, {"+----+", "| ab |", "+----+"}},
        {"box drawing",
         "T",
         {"ab"},
         TerminalStyle::Unicode,
         {"\xE2\x94\x8C\xE2\x94\x80 T \xE2\x94\x80\xE2\x94\x90", "\xE2\x94\x82 ab  \xE2\x94\x82",
          "\xE2\x94\x94\xE2\x94\x80\xE2\x94\x80\xE2\x94\x80\xE2\x94\x80\xE2\x94\x80\xE2\x94\x98"}},
        {"wide characters padded by columns",
         "",
         {"\xE6\x97\xA5", "abc"},
         TerminalStyle::Ascii,
         {"+-----+", "| \xE6\x97\xA5  |", "| abc |", "+-----+"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::string> framed = Framed(c.title, c.lines, c.style);
        EXPECT_EQ(framed, c.expected);
        for (const std::string& line : framed) EXPECT_EQ(Columns(line), Columns(framed.front()));
    }
}

TEST(UiFrames, Crc32xKnownInputsxStandardValues) {
    struct Case {
        const char* name;
        std::string bytes;
        std::uint32_t expected;
    };
    const Case cases[] = {
        {"empty", "", 0x00000000u},
        {"check string", "123456789", 0xCBF43926u},
        {"one zero byte", std::string(1, '\0'), 0xD202EF8Du},
        {"pangram", "The quick brown fox jumps over the lazy dog", 0x414FA339u},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Crc32(reinterpret_cast<const unsigned char*>(c.bytes.data()), c.bytes.size()), c.expected);
    }
}

TEST(UiFrames, FrameStatisticsEventTextxValuesxFixedFormat) {
    FrameStatistics statistics;
    EXPECT_EQ(statistics.EventText(), "frames:received=0 rejected=0 bytes=0 checksum=00000000");
    statistics.received = 12;
    statistics.rejected = 1;
    statistics.bytes = 5000000000ull;
    statistics.checksum = 0xCBF43926u;
    EXPECT_EQ(statistics.EventText(), "frames:received=12 rejected=1 bytes=5000000000 checksum=cbf43926");
}

}  // namespace
}  // namespace kivfld::components
