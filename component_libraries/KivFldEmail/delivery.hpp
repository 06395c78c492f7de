// The two ways a composed message leaves the e-mail component: a pickup folder, or SMTP.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "mail_settings.hpp"

namespace KivFldEmail {

/// Writes `message` into `folder` (created if missing) as a new file named
/// <UTC time>-<random>.eml, readable by its owner only. The file appears complete or not at all:
/// it is written under a hidden temporary name, flushed to disk and renamed. Returns its path.
/// Raises IoError naming the folder and the reason.
std::filesystem::path DeliverToPickupFolder(const std::filesystem::path& folder, std::string_view message);

/// Sends `message` by SMTP to settings.smtpUrl (smtp:// or smtps://), with the envelope sender
/// and recipients given as bare addr-specs. Bounded by settings.smtpTimeoutSeconds. Raises IoError
/// with libcurl's reason and the server's reply; the message never contains the password.
void DeliverBySmtp(const MailSettings& settings, std::string_view envelopeFrom,
                   const std::vector<std::string>& recipients, std::string_view message);

/// `url` without a user-info part, for messages.
std::string RedactUrl(std::string_view url);

}  // namespace KivFldEmail
