// Composition of an Internet message: headers, encoded words, quoted-printable and base64 parts.
#include "mime.hpp"

#include <time.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <random>

#include "kiv/runtime/errors.hpp"

namespace KivFldEmail::mime {
namespace {

constexpr std::string_view kCrlf = "\r\n";
constexpr std::size_t kLineLimit = 78;
// "=?UTF-8?B?" + 52 base64 characters + "?=" stays under RFC 2047's 75 even after "Subject: ".
constexpr std::size_t kEncodedWordBytes = 39;

bool IsAtext(char c) {
    const auto u = static_cast<unsigned char>(c);
    if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9')) return true;
    return std::string_view("!#$%&'*+-/=?^_`{|}~").find(c) != std::string_view::npos;
}

bool IsPrintableAscii(std::string_view text) {
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u > 0x7E) return false;
    }
    return true;
}

bool IsDotAtom(std::string_view text) {
    if (text.empty() || text.front() == '.' || text.back() == '.') return false;
    char previous = 0;
    for (const char c : text) {
        if (c == '.' ? previous == '.' : !IsAtext(c)) return false;
        previous = c;
    }
    return true;
}

bool IsDomainLiteral(std::string_view text) {
    if (text.size() < 3 || text.front() != '[' || text.back() != ']') return false;
    for (const char c : text.substr(1, text.size() - 2)) {
        if (c == '[' || c == ']' || c == '\\' || c == ' ' || !IsPrintableAscii(std::string_view(&c, 1))) return false;
    }
    return true;
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
    return text;
}

// Length of the UTF-8 sequence that starts with `lead` (1 for a stray byte).
std::size_t SequenceLength(unsigned char lead) {
    if (lead >= 0xF0) return 4;
    if (lead >= 0xE0) return 3;
    if (lead >= 0xC0) return 2;
    return 1;
}

std::vector<std::string> EncodedWords(std::string_view utf8) {
    std::vector<std::string> words;
    std::size_t start = 0;
    while (start < utf8.size()) {
        std::size_t end = start;
        while (end < utf8.size()) {
            const std::size_t length = SequenceLength(static_cast<unsigned char>(utf8[end]));
            if (end + length - start > kEncodedWordBytes && end > start) break;
            end = std::min(utf8.size(), end + length);
        }
        words.push_back("=?UTF-8?B?" + EncodeBase64(utf8.substr(start, end - start), 0) + "?=");
        start = end;
    }
    return words;
}

std::string JoinFolded(const std::vector<std::string>& words) {
    std::string out;
    for (const auto& word : words) {
        if (!out.empty()) out += "\r\n ";
        out += word;
    }
    return out;
}

// Whether unstructured text can go into a header as it is.
bool IsPlainHeaderText(std::string_view utf8) {
    if (!IsPrintableAscii(utf8) || utf8.find("=?") != std::string_view::npos) return false;
    // A word too long to fold would break the 998-character line limit; encoded words split it.
    std::size_t run = 0;
    for (const char c : utf8) {
        run = c == ' ' ? 0 : run + 1;
        if (run > 900) return false;
    }
    // Parsers drop leading and trailing blanks; keep them by encoding.
    return utf8.empty() || (utf8.front() != ' ' && utf8.back() != ' ');
}

std::string FoldAtSpaces(std::size_t firstLineUsed, std::string_view text) {
    std::string out;
    std::size_t lineLength = firstLineUsed;
    std::size_t position = 0;
    while (position < text.size()) {
        std::size_t next = text.find(' ', position + 1);
        if (next == std::string_view::npos) next = text.size();
        const std::string_view piece = text.substr(position, next - position);
        // Never break before a lone blank: a folded line must not be blank.
        if (position > 0 && piece.size() > 1 && lineLength + piece.size() > kLineLimit) {
            out += kCrlf;
            lineLength = 0;
        }
        out += piece;
        lineLength += piece.size();
        position = next;
    }
    return out;
}

std::string QuotedString(std::string_view ascii) {
    std::string out = "\"";
    for (const char c : ascii) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

void AppendHex(std::string& out, unsigned char byte, std::string_view prefix) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    out += prefix;
    out += kDigits[byte >> 4];
    out += kDigits[byte & 0x0F];
}

std::string Lowercase(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string RandomHex(std::size_t bytes) {
    std::random_device device;
    std::string out;
    for (std::size_t i = 0; i < bytes; ++i) AppendHex(out, static_cast<unsigned char>(device()), "");
    return out;
}

std::string AddressHeader(std::string_view name, const std::vector<Mailbox>& mailboxes) {
    std::string out(name);
    out += ":";
    std::size_t lineLength = out.size();
    for (std::size_t i = 0; i < mailboxes.size(); ++i) {
        std::string item = FormatMailbox(mailboxes[i]);
        if (i + 1 < mailboxes.size()) item += ",";
        if (i > 0 && lineLength + 1 + item.size() > kLineLimit) {
            out += kCrlf;
            lineLength = 0;
        }
        out += " " + item;
        lineLength = out.size() - (out.rfind('\n') == std::string::npos ? 0 : out.rfind('\n') + 1);
    }
    return out + std::string(kCrlf);
}

}  // namespace

std::vector<Mailbox> ParseMailboxList(std::string_view utf8) {
    for (const char c : utf8) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F) {
            throw kiv::runtime::ArgumentError("The address must not contain line breaks or other control characters.");
        }
    }
    std::vector<std::string_view> entries;
    bool quoted = false;
    std::size_t start = 0;
    for (std::size_t i = 0; i <= utf8.size(); ++i) {
        if (i < utf8.size() && quoted && utf8[i] == '\\') {
            ++i;
        } else if (i < utf8.size() && utf8[i] == '"') {
            quoted = !quoted;
        } else if (i == utf8.size() || (!quoted && (utf8[i] == ',' || utf8[i] == ';'))) {
            entries.push_back(Trim(utf8.substr(start, i - start)));
            start = i + 1;
        }
    }
    std::vector<Mailbox> mailboxes;
    for (const std::string_view entry : entries) {
        if (entry.empty()) continue;
        Mailbox mailbox;
        std::string_view address = entry;
        if (const std::size_t open = entry.rfind('<'); open != std::string_view::npos && entry.back() == '>') {
            address = entry.substr(open + 1, entry.size() - open - 2);
            std::string_view name = Trim(entry.substr(0, open));
            if (name.size() >= 2 && name.front() == '"' && name.back() == '"') {
                name = name.substr(1, name.size() - 2);
                for (std::size_t i = 0; i < name.size(); ++i) {
                    if (name[i] == '\\' && i + 1 < name.size()) ++i;
                    mailbox.displayName += name[i];
                }
            } else {
                mailbox.displayName = std::string(name);
            }
        }
        const std::size_t at = address.rfind('@');
        if (at == std::string_view::npos || !IsDotAtom(address.substr(0, at)) ||
            !(IsDotAtom(address.substr(at + 1)) || IsDomainLiteral(address.substr(at + 1)))) {
            throw kiv::runtime::ArgumentError("'" + std::string(entry) +
                                              "' is not an e-mail address of the form local@domain.");
        }
        mailbox.address = std::string(address);
        mailboxes.push_back(std::move(mailbox));
    }
    if (mailboxes.empty()) throw kiv::runtime::ArgumentError("The address is empty.");
    return mailboxes;
}

std::string EncodeBase64(std::string_view bytes, std::size_t lineLength) {
    static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    const std::size_t encodedLength = (bytes.size() + 2) / 3 * 4;
    out.reserve(encodedLength + (lineLength == 0 ? 0 : (encodedLength / lineLength + 1) * kCrlf.size()));
    std::size_t lineUsed = 0;
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const std::size_t count = std::min<std::size_t>(3, bytes.size() - i);
        std::uint32_t group = static_cast<unsigned char>(bytes[i]) << 16;
        if (count > 1) group |= static_cast<unsigned char>(bytes[i + 1]) << 8;
        if (count > 2) group |= static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[(group >> 18) & 0x3F];
        out += kAlphabet[(group >> 12) & 0x3F];
        out += count > 1 ? kAlphabet[(group >> 6) & 0x3F] : '=';
        out += count > 2 ? kAlphabet[group & 0x3F] : '=';
        lineUsed += 4;
        if (lineLength != 0 && (lineUsed >= lineLength || i + 3 >= bytes.size())) {
            out += kCrlf;
            lineUsed = 0;
        }
    }
    return out;
}

std::string EncodeQuotedPrintable(std::string_view text) {
    constexpr std::size_t kMaxLine = 76;
    std::string out;
    std::size_t position = 0;
    while (position < text.size()) {
        std::size_t end = text.find_first_of("\r\n", position);
        const bool hasBreak = end != std::string_view::npos;
        if (!hasBreak) end = text.size();
        const std::string_view line = text.substr(position, end - position);

        std::vector<std::string> tokens;
        for (std::size_t i = 0; i < line.size(); ++i) {
            const auto c = static_cast<unsigned char>(line[i]);
            const bool last = i + 1 == line.size();
            std::string token;
            if ((c == ' ' || c == '\t') && last) {
                AppendHex(token, c, "=");  // trailing blanks would be stripped in transit
            } else if (i == 0 && ((c == '.' && line.size() == 1) || line.starts_with("From "))) {
                AppendHex(token, c, "=");  // keeps SMTP and mbox handling away from the text
            } else if (c == ' ' || c == '\t' || (c >= 33 && c <= 126 && c != '=')) {
                token = static_cast<char>(c);
            } else {
                AppendHex(token, c, "=");
            }
            tokens.push_back(std::move(token));
        }
        std::size_t used = 0;
        for (std::size_t i = 0; i < tokens.size(); ++i) {
            const bool last = i + 1 == tokens.size();
            // Leave room for the "=" of a soft break, unless this token ends the line.
            if (used + tokens[i].size() > (last ? kMaxLine : kMaxLine - 1)) {
                out += "=\r\n";
                used = 0;
            }
            out += tokens[i];
            used += tokens[i].size();
        }
        if (hasBreak) {
            out += kCrlf;
            position = end + ((text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ? 2 : 1);
        } else {
            // Text without a final line break still ends in CRLF: a soft break, which decodes to nothing.
            out += "=\r\n";
            position = end;
        }
    }
    return out;
}

std::string EncodeUnstructured(std::string_view headerName, std::string_view utf8) {
    if (utf8.find_first_of("\r\n") != std::string_view::npos) {
        throw kiv::runtime::ArgumentError("The " + Lowercase(headerName) + " must not contain line breaks.");
    }
    if (IsPlainHeaderText(utf8)) return FoldAtSpaces(headerName.size() + 2, utf8);
    return JoinFolded(EncodedWords(utf8));
}

std::string FormatMailbox(const Mailbox& mailbox) {
    const std::string& name = mailbox.displayName;
    if (name.empty()) return mailbox.address;
    std::string phrase;
    if (!IsPrintableAscii(name) || name.find("=?") != std::string::npos) {
        phrase = JoinFolded(EncodedWords(name));
    } else {
        bool atoms = true;
        for (const char c : name) atoms = atoms && (IsAtext(c) || c == ' ');
        phrase = atoms && name.front() != ' ' && name.back() != ' ' ? name : QuotedString(name);
    }
    return phrase + " <" + mailbox.address + ">";
}

std::string FileNameParameters(std::string_view parameterName, std::string_view utf8FileName) {
    constexpr std::size_t kSegment = 60;
    const std::string name(parameterName);
    if (IsPrintableAscii(utf8FileName) && utf8FileName.size() <= kSegment) {
        return name + "=" + QuotedString(utf8FileName);
    }
    std::string encoded;
    for (const char c : utf8FileName) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
            std::string_view("!#$&+-.^_`|~").find(c) != std::string_view::npos) {
            encoded += c;
        } else {
            AppendHex(encoded, u, "%");
        }
    }
    encoded.insert(0, "UTF-8''");
    if (encoded.size() <= kSegment) return name + "*=" + encoded;
    // RFC 2231 continuations, never splitting a %XX triplet.
    std::string out;
    std::size_t start = 0;
    for (int index = 0; start < encoded.size(); ++index) {
        std::size_t end = std::min(encoded.size(), start + kSegment);
        if (end < encoded.size()) {
            if (encoded[end - 1] == '%')
                end -= 1;
            else if (end >= 2 && encoded[end - 2] == '%')
                end -= 2;
        }
        if (index > 0) out += ";\r\n ";
        out += name + "*" + std::to_string(index) + "*=" + encoded.substr(start, end - start);
        start = end;
    }
    return out;
}

std::string ContentTypeForFileName(std::string_view fileName) {
    static constexpr std::array<std::pair<std::string_view, std::string_view>, 14> kTypes{{
        {".txt", "text/plain"},
        {".csv", "text/csv"},
        {".htm", "text/html"},
        {".html", "text/html"},
        {".xml", "application/xml"},
        {".json", "application/json"},
        {".pdf", "application/pdf"},
        {".zip", "application/zip"},
        {".png", "image/png"},
        {".jpg", "image/jpeg"},
        {".jpeg", "image/jpeg"},
        {".gif", "image/gif"},
        {".gpx", "application/gpx+xml"},
        {".kml", "application/vnd.google-earth.kml+xml"},
    }};
    const std::size_t dot = fileName.rfind('.');
    if (dot != std::string_view::npos) {
        const std::string extension = Lowercase(fileName.substr(dot));
        for (const auto& [suffix, type] : kTypes) {
            if (extension == suffix) return std::string(type);
        }
    }
    return "application/octet-stream";
}

std::string Compose(const Message& message) {
    std::string out;
    out += "Date: " + message.date + std::string(kCrlf);
    out += AddressHeader("From", {message.from});
    out += AddressHeader("To", message.to);
    const std::string subject = EncodeUnstructured("Subject", message.subject);
    out += "Subject:" + (subject.empty() ? std::string() : " " + subject) + std::string(kCrlf);
    out += "Message-ID: " + message.messageId + std::string(kCrlf);
    out += "MIME-Version: 1.0\r\n";

    const std::string textHeaders =
        "Content-Type: text/plain; charset=UTF-8\r\n"
        "Content-Transfer-Encoding: quoted-printable\r\n";
    const std::string text = EncodeQuotedPrintable(message.body);
    if (message.attachments.empty()) {
        return out + textHeaders + std::string(kCrlf) + text;
    }

    const std::string delimiter = "\r\n--" + message.boundary;
    out += "Content-Type: multipart/mixed;\r\n boundary=\"" + message.boundary + "\"\r\n";
    out += "\r\nThis is a message with attachments in MIME format.\r\n";
    out += delimiter + std::string(kCrlf) + textHeaders + std::string(kCrlf) + text;
    for (const Attachment& attachment : message.attachments) {
        out += delimiter + std::string(kCrlf);
        out += "Content-Type: " + attachment.contentType + ";\r\n " + FileNameParameters("name", attachment.fileName) +
               std::string(kCrlf);
        out += "Content-Disposition: attachment;\r\n " + FileNameParameters("filename", attachment.fileName) +
               std::string(kCrlf);
        out += "Content-Transfer-Encoding: base64\r\n\r\n";
        out += EncodeBase64(attachment.bytes);
    }
    return out + delimiter + "--\r\n";
}

std::string MakeDate(std::int64_t secondsSinceEpoch) {
    static constexpr std::array<const char*, 7> kDays{"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr std::array<const char*, 12> kMonths{"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    const auto seconds = static_cast<time_t>(secondsSinceEpoch);
    struct tm local {};
    localtime_r(&seconds, &local);
    const long offsetMinutes = local.tm_gmtoff / 60;
    const long absolute = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    // Names spelled out here: strftime's %a and %b follow the host's locale.
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld", kDays[local.tm_wday],
                  local.tm_mday, kMonths[local.tm_mon], local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec,
                  offsetMinutes < 0 ? '-' : '+', absolute / 60, absolute % 60);
    return buffer;
}

std::string MakeMessageId(std::string_view fromAddress) {
    const std::size_t at = fromAddress.rfind('@');
    const std::string_view domain = at == std::string_view::npos ? "localhost" : fromAddress.substr(at + 1);
    return "<" + RandomHex(16) + "@" + std::string(domain) + ">";
}

std::string MakeBoundary() { return "=_KivFld_" + RandomHex(16); }

}  // namespace KivFldEmail::mime
