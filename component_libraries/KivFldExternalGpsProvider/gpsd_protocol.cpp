// Splitting gpsd requests and sorting gpsd's lines into replies and streamed reports.
#include "gpsd_protocol.hpp"

#include <algorithm>
#include <array>

#include "kiv/runtime/errors.hpp"

namespace KivFldExternalGpsProvider {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsNameCharacter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); }

std::string Shortened(std::string_view text) {
    return text.size() <= 40 ? std::string(text) : std::string(text.substr(0, 40)) + "...";
}

}  // namespace

std::vector<GpsdCommand> SplitRequest(std::string_view request) {
    std::vector<GpsdCommand> commands;
    std::size_t position = 0;
    for (;;) {
        while (position < request.size() && IsBlank(request[position])) ++position;
        if (position == request.size()) break;
        if (request[position] != '?') {
            throw kiv::runtime::ArgumentError("'" + Shortened(request.substr(position)) +
                                              "' is not a gpsd request; requests start with '?', as in ?VERSION;");
        }
        std::size_t end = position + 1;
        while (end < request.size() && IsNameCharacter(request[end])) ++end;
        GpsdCommand command;
        command.name = std::string(request.substr(position + 1, end - position - 1));
        if (command.name.empty()) {
            throw kiv::runtime::ArgumentError("'" + Shortened(request.substr(position)) +
                                              "' names no gpsd command; requests look like ?VERSION;");
        }
        std::transform(command.name.begin(), command.name.end(), command.name.begin(),
                       [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
        bool inString = false;
        for (; end < request.size(); ++end) {
            const char c = request[end];
            if (inString) {
                if (c == '\\')
                    ++end;
                else if (c == '"')
                    inString = false;
            } else if (c == '"') {
                inString = true;
            } else if (c == ';' || c == '\r' || c == '\n') {
                break;
            }
        }
        end = std::min(end, request.size());
        command.text = std::string(request.substr(position, end - position)) + ";";
        position = end < request.size() && request[end] == ';' ? end + 1 : end;
        commands.push_back(std::move(command));
    }
    if (commands.empty()) throw kiv::runtime::ArgumentError("The request is empty; gpsd requests look like ?VERSION;");
    return commands;
}

std::string ReplyClass(std::string_view line) {
    constexpr std::string_view kKey = "\"class\":\"";
    if (line.empty() || line.front() != '{') return {};
    const std::size_t key = line.find(kKey);
    if (key == std::string_view::npos) return {};
    const std::size_t start = key + kKey.size();
    const std::size_t end = line.find('"', start);
    if (end == std::string_view::npos) return {};
    return std::string(line.substr(start, end - start));
}

bool EndsReply(std::string_view replyClass, std::string_view commandName) {
    return replyClass == commandName || replyClass == "ERROR";
}

bool IsStreamedReport(std::string_view replyClass, std::string_view commandName) {
    static constexpr std::array<std::string_view, 14> kStreamed{
        "TPV", "SKY", "GST", "ATT", "IMU", "TOFF", "PPS", "OSC", "AIS", "RAW", "RTCM2", "RTCM3", "SUBFRAME", "DEVICE"};
    if (replyClass.empty()) return true;  // NMEA or other raw data a watch may ask for
    if (replyClass == commandName) return false;
    return std::find(kStreamed.begin(), kStreamed.end(), replyClass) != kStreamed.end();
}

}  // namespace KivFldExternalGpsProvider
