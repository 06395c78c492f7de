// Reading the e-mail component's settings from the environment and its settings file.
#include "mail_settings.hpp"

#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "kiv/runtime/errors.hpp"

namespace KivFldEmail {
namespace {

struct Key {
    std::string_view fileKey;
    const char* environmentName;
};

constexpr std::array<Key, 7> kKeys{{
    {"smtp_url", "KIVFLD_SMTP_URL"},
    {"smtp_user", "KIVFLD_SMTP_USER"},
    {"smtp_password", "KIVFLD_SMTP_PASSWORD"},
    {"smtp_tls", "KIVFLD_SMTP_TLS"},
    {"smtp_timeout", "KIVFLD_SMTP_TIMEOUT"},
    {"mail_from", "KIVFLD_MAIL_FROM"},
    {"pickup_dir", "KIVFLD_MAIL_PICKUP_DIR"},
}};

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) text.remove_suffix(1);
    return text;
}

std::string ValueOrEmpty(const EnvironmentLookup& environment, const char* name) {
    std::optional<std::string> value = environment(name);
    return value ? *value : std::string();
}

struct SettingsFile {
    std::string path;
    bool mustExist = false;
};

SettingsFile LocateSettingsFile(const EnvironmentLookup& environment) {
    if (std::optional<std::string> explicitPath = environment("KIVFLD_EMAIL_CONFIG");
        explicitPath && !explicitPath->empty()) {
        return {*explicitPath, true};
    }
    if (std::string config = ValueOrEmpty(environment, "XDG_CONFIG_HOME"); !config.empty()) {
        return {config + "/kivfld/email.conf", false};
    }
    if (std::string home = ValueOrEmpty(environment, "HOME"); !home.empty()) {
        return {home + "/.config/kivfld/email.conf", false};
    }
    return {};
}

// Raw values by file key, from the settings file.
std::array<std::optional<std::string>, kKeys.size()> ReadSettingsFile(const SettingsFile& file) {
    std::array<std::optional<std::string>, kKeys.size()> values;
    if (file.path.empty()) return values;
    std::error_code statusError;
    if (std::filesystem::status(file.path, statusError).type() == std::filesystem::file_type::not_found) {
        if (!file.mustExist) return values;
        throw kiv::runtime::FileNotFoundError("The e-mail settings file '" + file.path +
                                              "' named by KIVFLD_EMAIL_CONFIG does not exist.");
    }
    errno = 0;
    std::ifstream stream(file.path, std::ios::binary);
    if (!stream) {
        throw kiv::runtime::IoError("Could not read the e-mail settings file '" + file.path +
                                    "': " + std::strerror(errno != 0 ? errno : EIO) + ".");
    }
    std::string line;
    for (int number = 1; std::getline(stream, line); ++number) {
        const std::string_view content = Trim(line);
        if (content.empty() || content.front() == '#') continue;
        const std::size_t equals = content.find('=');
        const std::string where = file.path + " line " + std::to_string(number);
        if (equals == std::string_view::npos) {
            throw kiv::runtime::InvalidOperationError("Expected key = value in " + where + ".");
        }
        const std::string_view key = Trim(content.substr(0, equals));
        std::size_t index = 0;
        while (index < kKeys.size() && kKeys[index].fileKey != key) ++index;
        if (index == kKeys.size()) {
            throw kiv::runtime::InvalidOperationError("Unknown e-mail setting '" + std::string(key) + "' in " + where +
                                                      ".");
        }
        values[index] = std::string(Trim(content.substr(equals + 1)));
    }
    if (stream.bad()) {
        throw kiv::runtime::IoError("Could not read the e-mail settings file '" + file.path + "'.");
    }
    return values;
}

std::string DefaultFrom() {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') return "kivfld@localhost";
    return std::string("kivfld@") + host;
}

std::string DefaultPickupFolder(const EnvironmentLookup& environment) {
    if (std::string state = ValueOrEmpty(environment, "XDG_STATE_HOME"); !state.empty()) {
        return state + "/kivfld/mail-pickup";
    }
    if (std::string home = ValueOrEmpty(environment, "HOME"); !home.empty()) {
        return home + "/.local/state/kivfld/mail-pickup";
    }
    return "/tmp/kivfld-mail-pickup-" + std::to_string(getuid());
}

}  // namespace

std::optional<std::string> ProcessEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

MailSettings LoadMailSettings(const EnvironmentLookup& environment) {
    const SettingsFile file = LocateSettingsFile(environment);
    auto values = ReadSettingsFile(file);
    std::array<std::string, kKeys.size()> origins;
    for (std::size_t i = 0; i < kKeys.size(); ++i) {
        origins[i] = file.path;
        if (std::optional<std::string> fromEnvironment = environment(kKeys[i].environmentName)) {
            values[i] = std::move(fromEnvironment);
            origins[i] = kKeys[i].environmentName;
        }
    }
    const auto value = [&](std::size_t i) { return values[i].value_or(std::string()); };

    MailSettings settings;
    settings.smtpUrl = value(0);
    settings.smtpUser = value(1);
    settings.smtpPassword = value(2);
    const std::string tls = value(3);
    if (tls.empty()) {
        // Credentials never travel in the clear unless someone asks for it.
        settings.smtpTls = settings.smtpUser.empty() ? SmtpTls::Try : SmtpTls::Required;
    } else if (tls == "try") {
        settings.smtpTls = SmtpTls::Try;
    } else if (tls == "required") {
        settings.smtpTls = SmtpTls::Required;
    } else if (tls == "none") {
        settings.smtpTls = SmtpTls::None;
    } else {
        throw kiv::runtime::InvalidOperationError("smtp_tls from " + origins[3] +
                                                  " must be try, required or none, not '" + tls + "'.");
    }
    if (const std::string timeout = value(4); !timeout.empty()) {
        long seconds = 0;
        const auto [end, error] = std::from_chars(timeout.data(), timeout.data() + timeout.size(), seconds);
        if (error != std::errc() || end != timeout.data() + timeout.size() || seconds <= 0 || seconds > 3600) {
            throw kiv::runtime::InvalidOperationError("smtp_timeout from " + origins[4] +
                                                      " must be a number of seconds from 1 to 3600, not '" + timeout +
                                                      "'.");
        }
        settings.smtpTimeoutSeconds = seconds;
    }
    settings.mailFrom = value(5).empty() ? DefaultFrom() : value(5);
    settings.pickupFolder = value(6).empty() ? DefaultPickupFolder(environment) : value(6);
    return settings;
}

}  // namespace KivFldEmail
