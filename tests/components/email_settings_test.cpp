// The e-mail component's settings: environment over settings file over defaults, and clear errors.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>

#include "component_test_support.hpp"
#include "kiv/runtime/errors.hpp"
#include "mail_settings.hpp"

namespace KivFldEmail {
namespace {

using kivfld::components::testing::TemporaryFolder;
using kivfld::components::testing::WriteFile;

class MailSettingsTest : public ::testing::Test {
protected:
    MailSettings Load() {
        return LoadMailSettings([this](const char* name) -> std::optional<std::string> {
            const auto found = m_environment.find(name);
            if (found == m_environment.end()) return std::nullopt;
            return found->second;
        });
    }
    std::string ConfigPath() const { return (m_folder.Path() / "config/kivfld/email.conf").string(); }
    void WriteConfig(const std::string& text) {
        std::filesystem::create_directories(m_folder.Path() / "config/kivfld");
        WriteFile(ConfigPath(), text);
    }

    TemporaryFolder m_folder;
    std::map<std::string, std::string> m_environment{{"HOME", (m_folder.Path() / "home").string()},
                                                     {"XDG_CONFIG_HOME", (m_folder.Path() / "config").string()}};
};

TEST_F(MailSettingsTest, NothingConfiguredToSettingsxDefaultsxPickupUnderHome) {
    const MailSettings settings = Load();
    EXPECT_EQ(settings.smtpUrl, "");
    EXPECT_EQ(settings.pickupFolder, (m_folder.Path() / "home/.local/state/kivfld/mail-pickup").string());
    EXPECT_TRUE(settings.mailFrom.starts_with("kivfld@")) << settings.mailFrom;
    EXPECT_EQ(settings.smtpTls, SmtpTls::Try);
    EXPECT_EQ(settings.smtpTimeoutSeconds, 60);
}

TEST_F(MailSettingsTest, StateHomeToSettingsxDefaultPickupxUnderXdgStateHome) {
    m_environment["XDG_STATE_HOME"] = "/var/tmp/state";
    EXPECT_EQ(Load().pickupFolder, "/var/tmp/state/kivfld/mail-pickup");
}

TEST_F(MailSettingsTest, SettingsFileToSettingsxEveryKeyxRead) {
    WriteConfig(
        "# mail settings\n"
        "\n"
        "smtp_url = smtp://mail.example.org:587\n"
        "smtp_user=robot\n"
        "  smtp_password =  s3cret=with=equals  \n"
        "smtp_tls = none\n"
        "smtp_timeout = 15\r\n"
        "mail_from = Robot <robot@example.org>\n"
        "pickup_dir = /srv/pickup\n");
    const MailSettings settings = Load();
    EXPECT_EQ(settings.smtpUrl, "smtp://mail.example.org:587");
    EXPECT_EQ(settings.smtpUser, "robot");
    EXPECT_EQ(settings.smtpPassword, "s3cret=with=equals");
    EXPECT_EQ(settings.smtpTls, SmtpTls::None);
    EXPECT_EQ(settings.smtpTimeoutSeconds, 15);
    EXPECT_EQ(settings.mailFrom, "Robot <robot@example.org>");
    EXPECT_EQ(settings.pickupFolder, "/srv/pickup");
}

TEST_F(MailSettingsTest, EnvironmentAndFileToSettingsxBothSetxEnvironmentWinsEvenWhenEmpty) {
    WriteConfig("smtp_url = smtp://file.example.org\nmail_from = file@example.org\n");
    m_environment["KIVFLD_SMTP_URL"] = "";  // forces the pickup folder despite the file
    m_environment["KIVFLD_MAIL_FROM"] = "env@example.org";
    const MailSettings settings = Load();
    EXPECT_EQ(settings.smtpUrl, "");
    EXPECT_EQ(settings.mailFrom, "env@example.org");
}

TEST_F(MailSettingsTest, UserWithoutTlsSettingToSettingsxCredentialsxTlsRequired) {
    m_environment["KIVFLD_SMTP_USER"] = "robot";
    EXPECT_EQ(Load().smtpTls, SmtpTls::Required);
    m_environment["KIVFLD_SMTP_TLS"] = "try";
    EXPECT_EQ(Load().smtpTls, SmtpTls::Try);
}

TEST_F(MailSettingsTest, ExplicitConfigPathToSettingsxFileMissingxRaisesFileNotFound) {
    m_environment["KIVFLD_EMAIL_CONFIG"] = "/nonexistent/kivfld/email.conf";
    try {
        Load();
        FAIL() << "no error";
    } catch (const kiv::runtime::FileNotFoundError& error) {
        EXPECT_STREQ(error.what(),
                     "The e-mail settings file '/nonexistent/kivfld/email.conf' named by KIVFLD_EMAIL_CONFIG does not "
                     "exist.");
    }
}

struct BadFileCase {
    std::string name;
    std::string content;
    std::string messageTail;  ///< what the message says after the file's path
};

TEST_F(MailSettingsTest, MalformedFileToSettingsxCasesxRaiseInvalidOperationNamingFileAndLine) {
    const std::vector<BadFileCase> cases{
        {"unknown key", "smtp_url = smtp://x\nsmtp_ur = y\n", "Unknown e-mail setting 'smtp_ur' in {} line 2."},
        {"no equals sign", "# ok\nsmtp_url\n", "Expected key = value in {} line 2."},
        {"bad tls value", "smtp_tls = always\n", "smtp_tls from {} must be try, required or none, not 'always'."},
        {"bad timeout", "smtp_timeout = 0\n",
         "smtp_timeout from {} must be a number of seconds from 1 to 3600, not '0'."},
        {"timeout with garbage", "smtp_timeout = 10s\n",
         "smtp_timeout from {} must be a number of seconds from 1 to 3600, not '10s'."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteConfig(c.content);
        std::string expected = c.messageTail;
        expected.replace(expected.find("{}"), 2, ConfigPath());
        try {
            Load();
            ADD_FAILURE() << "no error";
        } catch (const kiv::runtime::InvalidOperationError& error) {
            EXPECT_EQ(std::string(error.what()), expected);
        }
    }
}

TEST_F(MailSettingsTest, BadEnvironmentValueToSettingsxTlsxRaiseNamingTheVariable) {
    m_environment["KIVFLD_SMTP_TLS"] = "yes";
    try {
        Load();
        FAIL() << "no error";
    } catch (const kiv::runtime::InvalidOperationError& error) {
        EXPECT_STREQ(error.what(), "smtp_tls from KIVFLD_SMTP_TLS must be try, required or none, not 'yes'.");
    }
}

}  // namespace
}  // namespace KivFldEmail
