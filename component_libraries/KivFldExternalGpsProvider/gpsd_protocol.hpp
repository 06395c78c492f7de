// The parts of gpsd's JSON protocol the GPS component needs: splitting a request into commands,
// and telling a command's reply from the reports a watch streams.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace KivFldExternalGpsProvider {

/// One gpsd command of a request, e.g. name "WATCH", text `?WATCH={"enable":true};`.
struct GpsdCommand {
    std::string name;
    std::string text;  ///< Always ends with ';'.
};

/// Splits `request` into its commands: each starts with '?', is named by the letters after it and
/// ends at ';' (outside JSON strings), a line break or the end of the request; a missing ';' is
/// added. Blanks and line breaks between commands are dropped. Raises ArgumentError for an empty
/// request or for text that is not a '?' command (device writes with '!' included).
std::vector<GpsdCommand> SplitRequest(std::string_view request);

/// The "class" of one line gpsd sent ("" for a line that is not a JSON object, such as NMEA).
std::string ReplyClass(std::string_view line);

/// Whether a line of class `replyClass` ends the reply to the command `commandName`: the object
/// of the command's own class, or an ERROR.
bool EndsReply(std::string_view replyClass, std::string_view commandName);

/// Whether a line of class `replyClass` is a report a watch streams (fixes, sky views, device
/// notices, NMEA) rather than part of the reply to `commandName`.
bool IsStreamedReport(std::string_view replyClass, std::string_view commandName);

}  // namespace KivFldExternalGpsProvider
