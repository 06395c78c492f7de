// Composition of an Internet message (RFC 5322 headers, MIME body parts) from UTF-8 parts.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace KivFldEmail::mime {

/// One mailbox of an address header: an optional display name and the bare address.
struct Mailbox {
    std::string displayName;  ///< UTF-8, may be empty.
    std::string address;      ///< ASCII bare address, local@domain.
};

/// Parses a list of mailboxes separated by ',' or ';' (outside quoted display names), each either
/// `local@domain` or `Name <local@domain>`. Raises ArgumentError naming what is wrong: an empty
/// list or entry, a line break or other control character (which could start a new header), or
/// a bare address that is not ASCII `local@domain`.
std::vector<Mailbox> ParseMailboxList(std::string_view utf8);

/// A file attached to a message: the name it is shown under and its exact bytes.
struct Attachment {
    std::string fileName;  ///< UTF-8, no folder part.
    std::string contentType;
    std::string bytes;
};

/// Everything that goes into one message. Date, Message-ID and boundary are inputs so that
/// composition is deterministic; MakeDate, MakeMessageId and MakeBoundary provide real values.
struct Message {
    Mailbox from;
    std::vector<Mailbox> to;
    std::string subject;  ///< UTF-8, one line.
    std::string body;     ///< UTF-8; any line-break convention.
    std::vector<Attachment> attachments;
    std::string date;       ///< RFC 5322 date-time.
    std::string messageId;  ///< With angle brackets.
    std::string boundary;   ///< Used only when there are attachments.
};

/// The complete message, CRLF line breaks, no line longer than 78 characters apart from
/// unbreakable header content. Raises ArgumentError for a subject with a line break.
std::string Compose(const Message& message);

/// RFC 5322 date-time for `secondsSinceEpoch` in local time with its numeric UTC offset.
std::string MakeDate(std::int64_t secondsSinceEpoch);
/// A new globally unique Message-ID in the domain of `fromAddress`.
std::string MakeMessageId(std::string_view fromAddress);
/// A new boundary that cannot occur in base64 or quoted-printable text.
std::string MakeBoundary();

/// Base64 of `bytes` in lines of at most `lineLength` characters (a multiple of 4) ended by
/// CRLF; 0 gives one unbroken line without CRLF.
std::string EncodeBase64(std::string_view bytes, std::size_t lineLength = 76);
/// Quoted-printable (RFC 2045) of UTF-8 text whose line breaks become CRLF.
std::string EncodeQuotedPrintable(std::string_view text);
/// The value of an unstructured header (`headerName` only counts towards the first line):
/// printable ASCII stays as it is, folded at spaces; anything else becomes UTF-8 "B" encoded
/// words (RFC 2047) that never split a character. Raises ArgumentError on CR or LF.
std::string EncodeUnstructured(std::string_view headerName, std::string_view utf8);
/// A mailbox as header text: display names quoted or encoded as needed.
std::string FormatMailbox(const Mailbox& mailbox);
/// Content-Type and Content-Disposition parameters naming `fileName`: a quoted string when it is
/// printable ASCII, otherwise RFC 2231 UTF-8 percent-encoding, continued over several lines.
std::string FileNameParameters(std::string_view parameterName, std::string_view utf8FileName);
/// The media type for a file name's extension; application/octet-stream when unknown.
std::string ContentTypeForFileName(std::string_view fileName);

}  // namespace KivFldEmail::mime
