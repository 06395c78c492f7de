// The e-mail component's own settings: environment variables over a key=value file over defaults.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace KivFldEmail {

/// How much TLS an smtp:// connection insists on (smtps:// is always TLS).
enum class SmtpTls {
    Try,       ///< STARTTLS when the server offers it.
    Required,  ///< STARTTLS or fail.
    None,      ///< Plain text.
};

/// Where and how messages go. An empty smtpUrl means the pickup folder.
struct MailSettings {
    std::string smtpUrl;
    std::string smtpUser;
    std::string smtpPassword;
    SmtpTls smtpTls = SmtpTls::Try;
    long smtpTimeoutSeconds = 60;
    std::string mailFrom;  ///< "local@domain" or "Name <local@domain>".
    std::string pickupFolder;
};

/// Looks up one environment variable; nullopt when it is not set.
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

/// The process environment.
std::optional<std::string> ProcessEnvironment(const char* name);

/// Reads the settings. Each setting comes from its environment variable when that is set (even to
/// ""), else from the settings file, else from its default. The file is KIVFLD_EMAIL_CONFIG, or
/// $XDG_CONFIG_HOME/kivfld/email.conf, or ~/.config/kivfld/email.conf; only the first must exist.
/// Raises FileNotFoundError for a missing KIVFLD_EMAIL_CONFIG file, IoError when the file cannot
/// be read, and InvalidOperationError (naming file and line) for a malformed or unknown line or
/// value.
MailSettings LoadMailSettings(const EnvironmentLookup& environment = ProcessEnvironment);

}  // namespace KivFldEmail
