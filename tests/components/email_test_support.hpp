// Shared pieces of the e-mail component tests: the Python checker of delivered messages and the
// settings every test starts from.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "component_test_support.hpp"

namespace kivfld::components::testing {

/// What a delivered message must contain.
struct ExpectedMail {
    std::string fromAddress;
    std::string fromName;
    std::vector<std::string> to;
    std::string subject;                                                     ///< UTF-8
    std::string body;                                                        ///< exact decoded bytes (CRLF line breaks)
    std::vector<std::pair<std::string, std::filesystem::path>> attachments;  ///< UTF-8 name, file
    std::optional<std::filesystem::path> envelope;                           ///< the SMTP sink's envelope file
};

/// Runs check_mail.py, which parses `message` with Python's e-mail package and compares it.
inline ProcessResult CheckMail(const std::filesystem::path& message, const ExpectedMail& expected) {
    std::vector<std::string> argv{kPython,
                                  (kScriptsDir / "check_mail.py").string(),
                                  message.string(),
                                  "--from-address",
                                  expected.fromAddress,
                                  "--from-name-hex=" + Hex(expected.fromName),
                                  "--subject-hex=" + Hex(expected.subject),
                                  "--body-hex=" + Hex(expected.body)};
    for (const std::string& to : expected.to) argv.insert(argv.end(), {"--to", to});
    for (const auto& [name, path] : expected.attachments) {
        argv.insert(argv.end(), {"--attachment", Hex(name) + "=" + path.string()});
    }
    if (expected.envelope) argv.insert(argv.end(), {"--envelope", expected.envelope->string()});
    return RunProcess(argv, std::chrono::seconds(30));
}

/// The sender the tests configure.
inline constexpr const char* kTestSenderAddress = "tests@kivfld.example";
inline constexpr const char* kTestSenderName = "KivFld Tests";

/// Settings isolated from the machine's: no settings file, no SMTP, the test sender, and the
/// pickup folder in `folder`/pickup.
inline void IsolateMailSettings(ScopedEnvironment& environment, const std::filesystem::path& folder) {
    environment.Set("XDG_CONFIG_HOME", (folder / "config").string());
    environment.Set("XDG_STATE_HOME", (folder / "state").string());
    for (const char* name : {"KIVFLD_EMAIL_CONFIG", "KIVFLD_SMTP_URL", "KIVFLD_SMTP_USER", "KIVFLD_SMTP_PASSWORD",
                             "KIVFLD_SMTP_TLS", "KIVFLD_SMTP_TIMEOUT"}) {
        environment.Unset(name);
    }
    environment.Set("KIVFLD_MAIL_FROM", std::string(kTestSenderName) + " <" + kTestSenderAddress + ">");
    environment.Set("KIVFLD_MAIL_PICKUP_DIR", (folder / "pickup").string());
}

/// Runs `call` and checks that it raises `Error` with exactly `message`.
template <class Error, class Call>
void ExpectComponentError(Call&& call, const std::string& message) {
    try {
        call();
        ADD_FAILURE() << "no error; expected: " << message;
    } catch (const Error& error) {
        EXPECT_EQ(std::string(error.what()), message);
    }
}

}  // namespace kivfld::components::testing
