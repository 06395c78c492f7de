// The e-mail component end to end into its pickup folder: through the public facade, checked with
// Python's e-mail parser; and its errors, through the component directly.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "KivFldEmail/EmailClient.hpp"
#include "common/utf16.hpp"
#include "component_test_support.hpp"
#include "email_test_support.hpp"
#include "kiv/fld/email.hpp"
#include "kiv/runtime/activation.hpp"
#include "kiv/runtime/list.hpp"
#include "support/thread_locale.hpp"

namespace kivfld::components::testing {
namespace {

using kiv::runtime::List;
using kiv::runtime::New;
using kiv::runtime::Ref;
using kiv::runtime::String;
using kivfld::components::ToComponentString;

const std::string kSubject =
    "Gr\xC3\xBC\xC3\x9F"
    "e aus M\xC3\xBCnchen \xE2\x80\x93 Bericht";
const std::string kBody =
    "Hallo,\nanbei die Dateien.\n\nGr\xC3\xBC\xC3\x9F"
    "e\n";
const std::string kBodyOnTheWire =
    "Hallo,\r\nanbei die Dateien.\r\n\r\nGr\xC3\xBC\xC3\x9F"
    "e\r\n";

class EmailPickupTest : public ::testing::Test {
protected:
    EmailPickupTest() { IsolateMailSettings(m_environment, m_folder.Path()); }

    std::filesystem::path Pickup() const { return m_folder.Path() / "pickup"; }

    std::filesystem::path MakeFile(const std::string& name, const std::string& bytes) {
        std::filesystem::create_directories(m_folder.Path() / "files");
        const auto path = m_folder.Path() / "files" / name;
        WriteFile(path, bytes);
        return path;
    }

    static std::string AllBytes(int repeat) {
        std::string bytes;
        for (int r = 0; r < repeat; ++r) {
            for (int i = 0; i < 256; ++i) bytes += static_cast<char>(i);
        }
        return bytes;
    }

    ExpectedMail Expected(const std::string& to) const {
        return {kTestSenderAddress, kTestSenderName, {to}, kSubject, kBodyOnTheWire, {}, std::nullopt};
    }

    static Ref<KivFldEmail::EmailClient> Component() {
        return kiv::runtime::ActivateAs<KivFldEmail::EmailClient>(KivFldEmail::EmailClient::kLibrary,
                                                                  KivFldEmail::EmailClient::kClassName);
    }
    static Ref<List<String>> Paths(const std::vector<std::filesystem::path>& paths) {
        auto list = New<List<String>>();
        for (const auto& path : paths) list->Add(ToComponentString(path.string()));
        return list;
    }

    TemporaryFolder m_folder;
    ScopedEnvironment m_environment;
    kiv::fld::testing::ScopedThreadLocale m_locale{kiv::fld::testing::kUtf8Locale};
};

TEST_F(EmailPickupTest, FacadeSendMailToPickupxAttachmentsxOneCompleteMessagePythonReadsByteForByte) {
    const auto binary = MakeFile("all-bytes.bin", AllBytes(3));
    const auto text = MakeFile("notes.txt", "line one\nline two\n");
    const auto unicodeName = MakeFile(
        "\xC3\x9C"
        "bersicht M\xC3\xA4rz.csv",
        "a;b\n1;2\n");
    const auto empty = MakeFile("empty.dat", "");
    kiv::fld::KivEmail email = kiv::fld::KivEmail::CreateInstance();

    ASSERT_TRUE(email.SendMail("Anna Berg <anna@example.org>", kSubject, kBody,
                               {binary.string(), text.string(), unicodeName.string(), empty.string()}));

    const auto files = FilesIn(Pickup());
    ASSERT_EQ(files.size(), 1u) << "exactly the message, no temporary file left";
    EXPECT_EQ(files[0].extension(), ".eml");
    EXPECT_NE(files[0].filename().string().front(), '.');
    struct stat status {};
    ASSERT_EQ(::stat(files[0].c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u) << "messages are private to their owner";

    ExpectedMail expected = Expected("anna@example.org");
    expected.attachments = {{"all-bytes.bin", binary},
                            {"notes.txt", text},
                            {"\xC3\x9C"
                             "bersicht M\xC3\xA4rz.csv",
                             unicodeName},
                            {"empty.dat", empty}};
    const ProcessResult check = CheckMail(files[0], expected);
    EXPECT_EQ(check.exitCode, 0) << check.output;
    EXPECT_EQ(check.output, "OK\n");
}

TEST_F(EmailPickupTest, FacadeSendMailToPickupxNoAttachmentsxSinglePartTextMessage) {
    kiv::fld::KivEmail email = kiv::fld::KivEmail::CreateInstance();
    ASSERT_TRUE(email.SendMail("anna@example.org", kSubject, kBody, {}));
    const auto files = FilesIn(Pickup());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(ReadFile(files[0]).find("\r\nContent-Type: text/plain; charset=UTF-8\r\n"), std::string::npos);
    const ProcessResult check = CheckMail(files[0], Expected("anna@example.org"));
    EXPECT_EQ(check.exitCode, 0) << check.output;
}

TEST_F(EmailPickupTest, FacadeSendMailToPickupxTwoMessagesxTwoDistinctFiles) {
    kiv::fld::KivEmail email = kiv::fld::KivEmail::CreateInstance();
    ASSERT_TRUE(email.SendMail("anna@example.org", kSubject, kBody, {}));
    ASSERT_TRUE(email.SendMail("bert@example.org", kSubject, kBody, {}));
    const auto files = FilesIn(Pickup());
    ASSERT_EQ(files.size(), 2u);
    // Names do not tell the order apart within one second, so accept either assignment.
    const bool annaFirst = ReadFile(files[0]).find("To: anna@example.org") != std::string::npos;
    EXPECT_EQ(CheckMail(files[annaFirst ? 0 : 1], Expected("anna@example.org")).exitCode, 0);
    EXPECT_EQ(CheckMail(files[annaFirst ? 1 : 0], Expected("bert@example.org")).exitCode, 0);
}

TEST_F(EmailPickupTest, FacadeSendMailToDefaultPickupxNoFolderSetxUnderXdgStateHome) {
    m_environment.Unset("KIVFLD_MAIL_PICKUP_DIR");
    kiv::fld::KivEmail email = kiv::fld::KivEmail::CreateInstance();
    ASSERT_TRUE(email.SendMail("anna@example.org", "Hi", "Body", {}));
    EXPECT_EQ(FilesIn(m_folder.Path() / "state/kivfld/mail-pickup").size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(Pickup()));
}

TEST_F(EmailPickupTest, FacadeSendMailToPickupxLatin1ThreadLocalexSubjectArrivesAsUnicode) {
    kiv::fld::testing::ScopedThreadLocale latin1(kiv::fld::testing::kLatin1Locale);
    ASSERT_TRUE(latin1.Active());
    kiv::fld::KivEmail email = kiv::fld::KivEmail::CreateInstance();
    ASSERT_TRUE(email.SendMail("anna@example.org",
                               "Gr\xFC\xDF"
                               "e",
                               "K\xE4se\n", {}));
    const auto files = FilesIn(Pickup());
    ASSERT_EQ(files.size(), 1u);
    ExpectedMail expected = Expected("anna@example.org");
    expected.subject =
        "Gr\xC3\xBC\xC3\x9F"
        "e";
    expected.body = "K\xC3\xA4se\r\n";
    const ProcessResult check = CheckMail(files[0], expected);
    EXPECT_EQ(check.exitCode, 0) << check.output;
}

struct RefusedMailCase {
    std::string name;
    std::string address;
    std::string subject;
};

TEST_F(EmailPickupTest, FacadeSendMailToPickupxRefusedInputxFalseAndNothingWritten) {
    const std::vector<RefusedMailCase> cases{
        {"empty address", "", "Hi"},
        {"header injection in the address", "anna@example.org\r\nBcc: victim@example.org", "Hi"},
        {"header injection in the subject", "anna@example.org", "Hi\r\nBcc: victim@example.org"},
        {"not an address", "anna", "Hi"},
    };
    kiv::fld::KivEmail email = kiv::fld::KivEmail::CreateInstance();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(email.SendMail(c.address, c.subject, "Body", {}));
    }
    EXPECT_TRUE(FilesIn(Pickup()).empty());
    EXPECT_TRUE(email.SendMail("anna@example.org", "Hi", "Body", {})) << "a refusal leaves the handle usable";
}

TEST_F(EmailPickupTest, FacadeSendMailToPickupxMissingAttachmentxFalseAndNothingWritten) {
    const auto present = MakeFile("present.txt", "x");
    kiv::fld::KivEmail email = kiv::fld::KivEmail::CreateInstance();
    EXPECT_FALSE(email.SendMail("anna@example.org", "Hi", "Body",
                                {present.string(), (m_folder.Path() / "missing.pdf").string()}));
    EXPECT_TRUE(FilesIn(Pickup()).empty());
}

struct ComponentErrorCase {
    std::string name;
    String address;
    String subject;
    std::vector<std::filesystem::path> attachments;
    std::string message;
};

TEST_F(EmailPickupTest, ComponentSendMailxRefusedInputxArgumentErrorNamingTheProblem) {
    const std::vector<ComponentErrorCase> cases{
        {"empty address", String::Empty(), String(u"Hi"), {}, "The address is empty."},
        {"address with CRLF",
         String(u"a@example.org\r\nBcc: v@example.org"),
         String(u"Hi"),
         {},
         "The address must not contain line breaks or other control characters."},
        {"subject with CRLF",
         String(u"a@example.org"),
         String(u"Hi\r\nBcc: v@example.org"),
         {},
         "The subject must not contain line breaks."},
        {"empty attachment path", String(u"a@example.org"), String(u"Hi"), {""}, "An attachment path is empty."},
    };
    const auto client = Component();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectComponentError<kiv::runtime::ArgumentError>(
            [&] { client->SendMail(c.address, c.subject, String(u"Body"), Paths(c.attachments)); }, c.message);
    }
    ExpectComponentError<kiv::runtime::ArgumentNullError>(
        [&] { client->SendMail(String(), String(u"Hi"), String(u"Body"), Paths({})); }, "The address is null.");
    EXPECT_TRUE(FilesIn(Pickup()).empty());
}

TEST_F(EmailPickupTest, ComponentSendMailxMissingAttachmentxFileNotFoundNamingTheFile) {
    const auto missing = m_folder.Path() / "nowhere" / "report.pdf";
    ExpectComponentError<kiv::runtime::FileNotFoundError>(
        [&] { Component()->SendMail(String(u"a@example.org"), String(u"Hi"), String(u"Body"), Paths({missing})); },
        "Could not find the attachment file '" + missing.string() + "'.");
}

TEST_F(EmailPickupTest, ComponentSendMailxFolderAsAttachmentxIoError) {
    ExpectComponentError<kiv::runtime::IoError>(
        [&] {
            Component()->SendMail(String(u"a@example.org"), String(u"Hi"), String(u"Body"), Paths({m_folder.Path()}));
        },
        "The attachment '" + m_folder.Path().string() + "' is not a regular file.");
}

TEST_F(EmailPickupTest, ComponentSendMailxPickupFolderBlockedByAFilexIoErrorNamingTheFolder) {
    const auto blocker = MakeFile("blocker", "");
    m_environment.Set("KIVFLD_MAIL_PICKUP_DIR", (blocker / "pickup").string());
    ExpectComponentError<kiv::runtime::IoError>(
        [&] { Component()->SendMail(String(u"a@example.org"), String(u"Hi"), String(u"Body"), Paths({})); },
        "Could not create the mail pickup folder '" + (blocker / "pickup").string() + "': Not a directory.");
}

TEST_F(EmailPickupTest, ComponentSendMailxNullSubjectAndBodyxSentAsEmpty) {
    Component()->SendMail(String(u"a@example.org"), String(), String(), Ref<List<String>>());
    const auto files = FilesIn(Pickup());
    ASSERT_EQ(files.size(), 1u);
    ExpectedMail expected = Expected("a@example.org");
    expected.subject = "";
    expected.body = "";
    const ProcessResult check = CheckMail(files[0], expected);
    EXPECT_EQ(check.exitCode, 0) << check.output;
}

// The checker must be able to fail, or its "OK" would prove nothing.
TEST_F(EmailPickupTest, CheckerOnDeliveredMessagexWrongExpectationsxReportsEachDifference) {
    const auto attachment = MakeFile("a.bin", "right bytes");
    const auto other = MakeFile("b.bin", "wrong bytes");
    kiv::fld::KivEmail email = kiv::fld::KivEmail::CreateInstance();
    ASSERT_TRUE(email.SendMail("anna@example.org", kSubject, kBody, {attachment.string()}));
    const auto files = FilesIn(Pickup());
    ASSERT_EQ(files.size(), 1u);

    ExpectedMail wrong = Expected("anna@example.org");
    wrong.subject = "Something else";
    wrong.body = "Other body\r\n";
    wrong.attachments = {{"a.bin", other}};
    const ProcessResult check = CheckMail(files[0], wrong);
    EXPECT_EQ(check.exitCode, 1);
    EXPECT_NE(check.output.find("Subject is "), std::string::npos) << check.output;
    EXPECT_NE(check.output.find("body is "), std::string::npos) << check.output;
    EXPECT_NE(check.output.find("attachment 0 differs from a.bin's bytes"), std::string::npos) << check.output;

    // And it catches a header that was smuggled in.
    const std::string original = ReadFile(files[0]);
    WriteFile(files[0], "Bcc: victim@example.org\r\n" + original);
    ExpectedMail right = Expected("anna@example.org");
    right.attachments = {{"a.bin", attachment}};
    EXPECT_EQ(CheckMail(files[0], right).output, "unexpected header bcc\n");
}

}  // namespace
}  // namespace kivfld::components::testing
