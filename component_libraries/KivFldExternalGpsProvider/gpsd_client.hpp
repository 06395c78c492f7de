// A client connection to gpsd that answers one request at a time.
#pragma once

#include <chrono>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "gpsd_protocol.hpp"

namespace KivFldExternalGpsProvider {

/// Where gpsd is and how long to wait for it.
struct GpsdSettings {
    std::string host = "localhost";
    int port = 2947;
    std::chrono::milliseconds timeout{5000};
};

/// Looks up one environment variable; nullopt when it is not set.
using EnvironmentLookup = std::function<std::optional<std::string>(const char* name)>;

/// The process environment.
std::optional<std::string> ProcessEnvironment(const char* name);

/// Settings from KIVFLD_GPSD_HOST, KIVFLD_GPSD_PORT and KIVFLD_GPSD_TIMEOUT_MS (unset or empty:
/// the default). Raises ArgumentError naming the variable for a value out of range.
GpsdSettings LoadGpsdSettings(const EnvironmentLookup& environment = ProcessEnvironment);

/// One connection to gpsd, opened on first use and kept, so that a watch a request enables
/// stays on for the next request. Calls are serialised.
class GpsdClient {
public:
    /// `settings` is read each time the client connects.
    explicit GpsdClient(std::function<GpsdSettings()> settings);
    ~GpsdClient();
    GpsdClient(const GpsdClient&) = delete;
    GpsdClient& operator=(const GpsdClient&) = delete;

    /// Sends `request` (one or more '?' commands) and returns gpsd's reply to each command: the
    /// reply's lines without streamed reports, up to and including the object of the command's
    /// class (or an ERROR), joined by '\n'. Connects first if needed: reads gpsd's VERSION
    /// greeting and, after a lost connection, sends the last ?WATCH again so the session goes on
    /// as the caller left it. Raises ArgumentError for a request that is not a gpsd request and
    /// IoError when gpsd cannot be reached, closes the connection, or does not answer within the
    /// timeout (the connection is then dropped).
    std::string Exchange(std::string_view request);

private:
    void Connect();
    void Disconnect() noexcept;
    /// The next line (CR LF removed); `awaited` ("a greeting", "an answer to ?POLL;") words errors.
    std::string ReadLine(std::chrono::steady_clock::time_point deadline, const std::string& awaited);
    std::string ReadReply(const GpsdCommand& command, std::chrono::steady_clock::time_point deadline);
    void SendAll(std::string_view text, std::chrono::steady_clock::time_point deadline);
    [[noreturn]] void FailAndDisconnect(const std::string& message);
    std::string Endpoint() const;

    std::function<GpsdSettings()> m_settingsSource;
    std::mutex m_mutex;
    GpsdSettings m_settings;
    int m_socket = -1;
    std::string m_pending;               ///< Received bytes not yet split into lines.
    std::optional<std::string> m_watch;  ///< The last ?WATCH sent, replayed after a reconnect.
};

}  // namespace KivFldExternalGpsProvider
