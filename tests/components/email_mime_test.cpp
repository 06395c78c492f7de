// The e-mail component's message composition: encodings, header safety and the exact wire form.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kiv/runtime/errors.hpp"
#include "mime.hpp"

namespace KivFldEmail::mime {
namespace {

struct EncodingCase {
    std::string name;
    std::string input;
    std::string expected;
};

TEST(MimeBase64, BytesToBase64xUnbrokenLinexMatchesRfc4648Vectors) {
    const std::vector<EncodingCase> cases{
        {"empty", "", ""},
        {"one byte", "f", "Zg=="},
        {"two bytes", "fo", "Zm8="},
        {"three bytes", "foo", "Zm9v"},
        {"four bytes", "foob", "Zm9vYg=="},
        {"six bytes", "foobar", "Zm9vYmFy"},
        {"high and zero bytes", std::string("\x00\xFF\xFE", 3), "AP/+"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(EncodeBase64(c.input, 0), c.expected);
    }
}

TEST(MimeBase64, BytesToBase64xLinesOf76xBreaksEvery57BytesWithCrlf) {
    std::string bytes;
    for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
    const std::string encoded = EncodeBase64(bytes);
    // 256 bytes: four full lines of 57 bytes (76 characters) and one of 28 bytes (40 characters).
    std::vector<std::string> lines;
    for (std::size_t start = 0; start < encoded.size();) {
        const std::size_t end = encoded.find("\r\n", start);
        ASSERT_NE(end, std::string::npos) << "every line ends with CRLF";
        lines.push_back(encoded.substr(start, end - start));
        start = end + 2;
    }
    ASSERT_EQ(lines.size(), 5u);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(lines[i].size(), 76u) << "line " << i;
    EXPECT_EQ(lines[4].size(), 40u);
    EXPECT_EQ(lines[0], "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4");
    EXPECT_EQ(lines[4], "5OXm5+jp6uvs7e7v8PHy8/T19vf4+fr7/P3+/w==");
}

TEST(MimeBase64, EmptyBytesToBase64xLinesxGivesNoLines) { EXPECT_EQ(EncodeBase64(""), ""); }

TEST(MimeQuotedPrintable, TextToQuotedPrintablexCasesxEncodesExactly) {
    const std::vector<EncodingCase> cases{
        {"empty", "", ""},
        {"ascii with final break", "Hello\n", "Hello\r\n"},
        {"no final break ends in a soft break", "Hello", "Hello=\r\n"},
        {"lone LF, CRLF and lone CR all become CRLF", "a\nb\r\nc\rd\n", "a\r\nb\r\nc\r\nd\r\n"},
        {"equals sign", "1+1=2\n", "1+1=3D2\r\n"},
        {"utf-8 bytes",
         "Gr\xC3\xBC\xC3\x9F"
         "e\n",
         "Gr=C3=BC=C3=9Fe\r\n"},
        {"trailing blank and tab", "end \nend\t\n", "end=20\r\nend=09\r\n"},
        {"inner blanks stay", "a b\tc\n", "a b\tc\r\n"},
        {"zero and control bytes", std::string("a\0b\x7F\n", 5), "a=00b=7F\r\n"},
        {"a lone dot line", "one\n.\ntwo\n", "one\r\n=2E\r\ntwo\r\n"},
        {"From at a line start", "From here\n", "=46rom here\r\n"},
        {"blank lines stay", "a\n\n\nb\n", "a\r\n\r\n\r\nb\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(EncodeQuotedPrintable(c.input), c.expected);
    }
}

std::string Repeat(const std::string& piece, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += piece;
    return out;
}

TEST(MimeQuotedPrintable, LongLineToQuotedPrintablexSoftBreaksxKeepsLinesWithin76) {
    EXPECT_EQ(EncodeQuotedPrintable(std::string(200, 'x') + "\n"),
              std::string(75, 'x') + "=\r\n" + std::string(75, 'x') + "=\r\n" + std::string(50, 'x') + "\r\n");
    // A line that fits exactly takes no soft break; an escape is never split by one.
    EXPECT_EQ(EncodeQuotedPrintable(std::string(76, 'x') + "\n"), std::string(76, 'x') + "\r\n");
    EXPECT_EQ(EncodeQuotedPrintable(std::string(30, '=') + "\n"),
              Repeat("=3D", 25) + "=\r\n" + Repeat("=3D", 5) + "\r\n");
}

TEST(MimeHeader, SubjectToHeaderTextxCasesxPlainOrEncodedWords) {
    const std::vector<EncodingCase> cases{
        {"plain ascii", "Weekly report", "Weekly report"},
        {"empty", "", ""},
        {"umlauts become one B word",
         "Gr\xC3\xBC\xC3\x9F"
         "e",
         "=?UTF-8?B?R3LDvMOfZQ==?="},
        {"text that looks like an encoded word is encoded", "=?x?=", "=?UTF-8?B?PT94Pz0=?="},
        {"leading blank is kept by encoding", " x", "=?UTF-8?B?IHg=?="},
        {"tab is encoded", "a\tb", "=?UTF-8?B?YQli?="},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(EncodeUnstructured("Subject", c.input), c.expected);
    }
}

TEST(MimeHeader, LongAsciiSubjectToHeaderTextxFoldsAtBlanksxUnfoldsToTheSameText) {
    std::string subject;
    for (int i = 0; i < 30; ++i) subject += (i ? " word" : "word") + std::to_string(i);
    const std::string folded = EncodeUnstructured("Subject", subject);
    std::string unfolded;
    std::size_t longest = 0, start = 0, lineNumber = 0;
    for (;;) {
        const std::size_t end = folded.find("\r\n", start);
        const std::string line = folded.substr(start, end == std::string::npos ? std::string::npos : end - start);
        longest = std::max(longest, line.size() + (lineNumber == 0 ? 9 : 0));
        unfolded += line;
        ++lineNumber;
        if (end == std::string::npos) break;
        EXPECT_EQ(folded[end + 2], ' ') << "continuation lines start with a blank";
        start = end + 2;
    }
    EXPECT_GT(lineNumber, 1u);
    EXPECT_LE(longest, 78u);
    EXPECT_EQ(unfolded, subject);
}

TEST(MimeHeader, LongUtf8SubjectToHeaderTextxEncodedWordsxNeverSplitACharacter) {
    const std::string euro = "\xE2\x82\xAC";
    const std::string subject = Repeat(euro, 40);
    // At most 39 bytes per word: 13 whole euro signs, so 13 + 13 + 13 + 1.
    const auto word = [&](int signs) { return "=?UTF-8?B?" + EncodeBase64(Repeat(euro, signs), 0) + "?="; };
    EXPECT_EQ(EncodeUnstructured("Subject", subject),
              word(13) + "\r\n " + word(13) + "\r\n " + word(13) + "\r\n " + word(1));
    EXPECT_LE(std::string("Subject: ").size() + word(13).size(), 76u);
}

TEST(MimeHeader, SubjectWithLineBreakToHeaderTextxInjectionxRaisesArgumentError) {
    for (const std::string subject : {"Hi\r\nBcc: victim@example.org", "Hi\nBcc: x@example.org", "Hi\r"}) {
        SCOPED_TRACE(subject);
        try {
            EncodeUnstructured("Subject", subject);
            ADD_FAILURE() << "no error";
        } catch (const kiv::runtime::ArgumentError& error) {
            EXPECT_STREQ(error.what(), "The subject must not contain line breaks.");
        }
    }
}

struct MailboxCase {
    std::string name;
    std::string input;
    std::vector<Mailbox> expected;
};

TEST(MimeAddress, AddressTextToMailboxesxValidFormsxParsed) {
    const std::vector<MailboxCase> cases{
        {"bare", "anna@example.org", {{"", "anna@example.org"}}},
        {"blanks around", "  anna@example.org ", {{"", "anna@example.org"}}},
        {"name and angle brackets", "Anna Berg <anna@example.org>", {{"Anna Berg", "anna@example.org"}}},
        {"quoted name with comma", "\"Berg, Anna\" <anna@example.org>", {{"Berg, Anna", "anna@example.org"}}},
        {"utf-8 name", "J\xC3\xBCrgen <j@example.org>", {{"J\xC3\xBCrgen", "j@example.org"}}},
        {"comma list", "a@example.org, b@example.org", {{"", "a@example.org"}, {"", "b@example.org"}}},
        {"semicolon list with trailing separator",
         "a@example.org; b@example.org;",
         {{"", "a@example.org"}, {"", "b@example.org"}}},
        {"dotted local part and plus", "first.last+tag@mail.example.org", {{"", "first.last+tag@mail.example.org"}}},
        {"domain literal", "root@[127.0.0.1]", {{"", "root@[127.0.0.1]"}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<Mailbox> parsed = ParseMailboxList(c.input);
        ASSERT_EQ(parsed.size(), c.expected.size());
        for (std::size_t i = 0; i < parsed.size(); ++i) {
            EXPECT_EQ(parsed[i].displayName, c.expected[i].displayName);
            EXPECT_EQ(parsed[i].address, c.expected[i].address);
        }
    }
}

struct RejectedAddressCase {
    std::string name;
    std::string input;
    std::string message;
};

TEST(MimeAddress, AddressTextToMailboxesxInvalidFormsxRaiseArgumentErrorNamingTheProblem) {
    const std::vector<RejectedAddressCase> cases{
        {"empty", "", "The address is empty."},
        {"only separators", " , ;", "The address is empty."},
        {"header injection with CRLF", "a@example.org\r\nBcc: victim@example.org",
         "The address must not contain line breaks or other control characters."},
        {"bare LF", "a@example.org\nX: y", "The address must not contain line breaks or other control characters."},
        {"zero character", std::string("a@example.org\0", 14),
         "The address must not contain line breaks or other control characters."},
        {"no at sign", "anna", "'anna' is not an e-mail address of the form local@domain."},
        {"empty domain", "anna@", "'anna@' is not an e-mail address of the form local@domain."},
        {"blank inside", "an na@example.org", "'an na@example.org' is not an e-mail address of the form local@domain."},
        {"non-ascii local part", "j\xC3\xBCrgen@example.org",
         "'j\xC3\xBCrgen@example.org' is not an e-mail address of the form local@domain."},
        {"double dot", "a..b@example.org", "'a..b@example.org' is not an e-mail address of the form local@domain."},
        {"one bad entry in a list", "a@example.org, nope", "'nope' is not an e-mail address of the form local@domain."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        try {
            ParseMailboxList(c.input);
            ADD_FAILURE() << "no error";
        } catch (const kiv::runtime::ArgumentError& error) {
            EXPECT_EQ(std::string(error.what()), c.message);
        }
    }
}

TEST(MimeAddress, MailboxToHeaderTextxDisplayNamesxQuotedOrEncoded) {
    const std::vector<std::pair<Mailbox, std::string>> cases{
        {{"", "a@example.org"}, "a@example.org"},
        {{"Anna Berg", "a@example.org"}, "Anna Berg <a@example.org>"},
        {{"Berg, Anna", "a@example.org"}, "\"Berg, Anna\" <a@example.org>"},
        {{"Say \"hi\"", "a@example.org"}, "\"Say \\\"hi\\\"\" <a@example.org>"},
        {{"J\xC3\xBCrgen", "j@example.org"}, "=?UTF-8?B?SsO8cmdlbg==?= <j@example.org>"},
    };
    for (const auto& [mailbox, expected] : cases) {
        SCOPED_TRACE(expected);
        EXPECT_EQ(FormatMailbox(mailbox), expected);
    }
}

TEST(MimeAttachmentName, FileNameToParametersxCasesxQuotedOrRfc2231) {
    const std::vector<EncodingCase> cases{
        {"ascii", "report.pdf", "filename=\"report.pdf\""},
        {"quote and backslash escaped", "a\"b\\c.txt", "filename=\"a\\\"b\\\\c.txt\""},
        {"utf-8 percent-encoded",
         "\xC3\xBC"
         "ber sicht.txt",
         "filename*=UTF-8''%C3%BCber%20sicht.txt"},
        {"line break percent-encoded", "a\r\nb", "filename*=UTF-8''a%0D%0Ab"},
        {"long name continued without splitting an escape", std::string(20, 'a') + std::string(20, '\xC3'),
         "filename*0*=UTF-8''aaaaaaaaaaaaaaaaaaaa%C3%C3%C3%C3%C3%C3%C3%C3%C3%C3%C3;\r\n"
         " filename*1*=%C3%C3%C3%C3%C3%C3%C3%C3%C3"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(FileNameParameters("filename", c.input), c.expected);
    }
}

TEST(MimeAttachmentName, FileNameToContentTypexExtensionsxKnownOrOctetStream) {
    const std::vector<EncodingCase> cases{
        {"pdf", "a.pdf", "application/pdf"},
        {"upper case", "A.PNG", "image/png"},
        {"text", "notes.txt", "text/plain"},
        {"unknown", "data.bin", "application/octet-stream"},
        {"none", "Makefile", "application/octet-stream"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ContentTypeForFileName(c.input), c.expected);
    }
}

Message FixedMessage() {
    Message message;
    message.from = {"KivFld", "kivfld@example.org"};
    message.to = {{"", "anna@example.org"}};
    message.subject =
        "Gr\xC3\xBC\xC3\x9F"
        "e";
    message.body = "Hello\nWorld";
    message.date = "Fri, 11 Dec 2026 12:00:00 +0100";
    message.messageId = "<id1@example.org>";
    message.boundary = "=_KivFld_b";
    return message;
}

TEST(MimeCompose, TextOnlyMessageToWirexSinglePartxExactBytes) {
    EXPECT_EQ(Compose(FixedMessage()),
              "Date: Fri, 11 Dec 2026 12:00:00 +0100\r\n"
              "From: KivFld <kivfld@example.org>\r\n"
              "To: anna@example.org\r\n"
              "Subject: =?UTF-8?B?R3LDvMOfZQ==?=\r\n"
              "Message-ID: <id1@example.org>\r\n"
              "MIME-Version: 1.0\r\n"
              "Content-Type: text/plain; charset=UTF-8\r\n"
              "Content-Transfer-Encoding: quoted-printable\r\n"
              "\r\n"
              "Hello\r\n"
              "World=\r\n");
}

TEST(MimeCompose, MessageWithAttachmentsToWirexMultipartMixedxExactBytes) {
    Message message = FixedMessage();
    message.attachments.push_back({"a.txt", "text/plain", "abc"});
    message.attachments.push_back({"\xC3\xBC.bin", "application/octet-stream", std::string("\x00\xFF", 2)});
    message.attachments.push_back({"empty.dat", "application/octet-stream", ""});
    EXPECT_EQ(Compose(message),
              "Date: Fri, 11 Dec 2026 12:00:00 +0100\r\n"
              "From: KivFld <kivfld@example.org>\r\n"
              "To: anna@example.org\r\n"
              "Subject: =?UTF-8?B?R3LDvMOfZQ==?=\r\n"
              "Message-ID: <id1@example.org>\r\n"
              "MIME-Version: 1.0\r\n"
              "Content-Type: multipart/mixed;\r\n"
              " boundary=\"=_KivFld_b\"\r\n"
              "\r\n"
              "This is a message with attachments in MIME format.\r\n"
              "\r\n"
              "--=_KivFld_b\r\n"
              "Content-Type: text/plain; charset=UTF-8\r\n"
              "Content-Transfer-Encoding: quoted-printable\r\n"
              "\r\n"
              "Hello\r\n"
              "World=\r\n"
              "\r\n"
              "--=_KivFld_b\r\n"
              "Content-Type: text/plain;\r\n"
              " name=\"a.txt\"\r\n"
              "Content-Disposition: attachment;\r\n"
              " filename=\"a.txt\"\r\n"
              "Content-Transfer-Encoding: base64\r\n"
              "\r\n"
              "YWJj\r\n"
              "\r\n"
              "--=_KivFld_b\r\n"
              "Content-Type: application/octet-stream;\r\n"
              " name*=UTF-8''%C3%BC.bin\r\n"
              "Content-Disposition: attachment;\r\n"
              " filename*=UTF-8''%C3%BC.bin\r\n"
              "Content-Transfer-Encoding: base64\r\n"
              "\r\n"
              "AP8=\r\n"
              "\r\n"
              "--=_KivFld_b\r\n"
              "Content-Type: application/octet-stream;\r\n"
              " name=\"empty.dat\"\r\n"
              "Content-Disposition: attachment;\r\n"
              " filename=\"empty.dat\"\r\n"
              "Content-Transfer-Encoding: base64\r\n"
              "\r\n"
              "\r\n"
              "--=_KivFld_b--\r\n");
}

TEST(MimeCompose, ManyRecipientsToWirexToHeaderxFoldedAfterCommas) {
    Message message = FixedMessage();
    message.to.clear();
    for (int i = 0; i < 6; ++i) message.to.push_back({"", "recipient" + std::to_string(i) + "@example.org"});
    const std::string wire = Compose(message);
    EXPECT_NE(wire.find("To: recipient0@example.org, recipient1@example.org, recipient2@example.org,\r\n"
                        " recipient3@example.org, recipient4@example.org, recipient5@example.org\r\n"),
              std::string::npos)
        << wire;
}

TEST(MimeCompose, MessageIdAndBoundaryxTwoCallsxDifferAndHaveTheirForm) {
    const std::string first = MakeMessageId("kivfld@example.org");
    EXPECT_NE(first, MakeMessageId("kivfld@example.org"));
    EXPECT_TRUE(first.starts_with("<") && first.ends_with("@example.org>")) << first;
    const std::string boundary = MakeBoundary();
    EXPECT_NE(boundary, MakeBoundary());
    EXPECT_TRUE(boundary.starts_with("=_")) << "'=_' never occurs in base64 or quoted-printable text";
}

TEST(MimeCompose, SecondsToDatexEpochxRfc5322FormWithOffset) {
    const std::string date = MakeDate(0);
    // Day, month and year in the local zone differ around the epoch; the form does not.
    ASSERT_EQ(date.size(), 31u) << date;
    EXPECT_TRUE(date.starts_with("Thu, 01 Jan 1970") || date.starts_with("Wed, 31 Dec 1969")) << date;
    EXPECT_TRUE(date[26] == '+' || date[26] == '-') << date;
}

}  // namespace
}  // namespace KivFldEmail::mime
