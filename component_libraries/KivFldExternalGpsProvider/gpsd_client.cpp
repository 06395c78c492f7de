// A gpsd client over TCP: connect with a bounded wait, read the greeting, send requests and sort
// the lines that come back into replies and streamed reports.
#include "gpsd_client.hpp"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "gpsd_protocol.hpp"
#include "kiv/runtime/errors.hpp"

namespace KivFldExternalGpsProvider {
namespace {

using Clock = std::chrono::steady_clock;

// gpsd's longest objects (POLL with a full sky view) are a few kilobytes.
constexpr std::size_t kMaxLineLength = 1 << 20;

int RemainingMilliseconds(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 600'000));
}

std::optional<long> ParseNumber(const std::string& text) {
    long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

// Connects one address without blocking past `deadline`; returns the socket or -1 with errno set.
int ConnectOne(const addrinfo& address, Clock::time_point deadline) {
    const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, address.ai_protocol);
    if (fd < 0) return -1;
    if (::connect(fd, address.ai_addr, address.ai_addrlen) == 0) return fd;
    if (errno != EINPROGRESS) {
        const int error = errno;
        ::close(fd);
        errno = error;
        return -1;
    }
    pollfd writable{fd, POLLOUT, 0};
    int polled;
    do {
        polled = ::poll(&writable, 1, RemainingMilliseconds(deadline));
    } while (polled < 0 && errno == EINTR);
    int error = ETIMEDOUT;
    socklen_t length = sizeof error;
    if (polled > 0 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0) return fd;
    ::close(fd);
    errno = polled < 0 ? errno : error;
    return -1;
}

}  // namespace

std::optional<std::string> ProcessEnvironment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

GpsdSettings LoadGpsdSettings(const EnvironmentLookup& environment) {
    GpsdSettings settings;
    if (const auto host = environment("KIVFLD_GPSD_HOST"); host && !host->empty()) settings.host = *host;
    if (const auto port = environment("KIVFLD_GPSD_PORT"); port && !port->empty()) {
        const std::optional<long> number = ParseNumber(*port);
        if (!number || *number < 1 || *number > 65535) {
            throw kiv::runtime::ArgumentError("KIVFLD_GPSD_PORT must be a port number from 1 to 65535, not '" + *port +
                                              "'.");
        }
        settings.port = static_cast<int>(*number);
    }
    if (const auto timeout = environment("KIVFLD_GPSD_TIMEOUT_MS"); timeout && !timeout->empty()) {
        const std::optional<long> number = ParseNumber(*timeout);
        if (!number || *number < 1 || *number > 600'000) {
            throw kiv::runtime::ArgumentError(
                "KIVFLD_GPSD_TIMEOUT_MS must be a number of milliseconds from 1 to 600000, not '" + *timeout + "'.");
        }
        settings.timeout = std::chrono::milliseconds(*number);
    }
    return settings;
}

GpsdClient::GpsdClient(std::function<GpsdSettings()> settings) : m_settingsSource(std::move(settings)) {}

GpsdClient::~GpsdClient() { Disconnect(); }

void GpsdClient::Disconnect() noexcept {
    if (m_socket >= 0) ::close(m_socket);
    m_socket = -1;
    m_pending.clear();
}

void GpsdClient::FailAndDisconnect(const std::string& message) {
    Disconnect();
    throw kiv::runtime::IoError(message);
}

std::string GpsdClient::Endpoint() const {
    const bool ipv6 = m_settings.host.find(':') != std::string::npos;
    return (ipv6 ? "[" + m_settings.host + "]" : m_settings.host) + ":" + std::to_string(m_settings.port);
}

void GpsdClient::Connect() {
    m_settings = m_settingsSource();
    const auto deadline = Clock::now() + m_settings.timeout;

    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    const int resolved =
        ::getaddrinfo(m_settings.host.c_str(), std::to_string(m_settings.port).c_str(), &hints, &addresses);
    if (resolved != 0) {
        throw kiv::runtime::IoError("Could not find the gpsd host " + m_settings.host + ": " + gai_strerror(resolved) +
                                    ".");
    }
    int lastError = ECONNREFUSED;
    for (const addrinfo* address = addresses; address != nullptr && m_socket < 0; address = address->ai_next) {
        m_socket = ConnectOne(*address, deadline);
        if (m_socket < 0) lastError = errno;
    }
    ::freeaddrinfo(addresses);
    if (m_socket < 0) {
        throw kiv::runtime::IoError("Could not connect to gpsd at " + Endpoint() + ": " + std::strerror(lastError) +
                                    ".");
    }

    // gpsd greets every client with its VERSION object before anything else.
    const std::string greeting = ReadLine(deadline, "a greeting");
    if (ReplyClass(greeting) != "VERSION") {
        FailAndDisconnect("The server at " + Endpoint() + " did not greet like gpsd: '" + greeting.substr(0, 80) +
                          "'.");
    }
    if (m_watch) {
        const GpsdCommand watch{"WATCH", *m_watch};
        const auto watchDeadline = Clock::now() + m_settings.timeout;
        SendAll(watch.text, watchDeadline);
        ReadReply(watch, watchDeadline);
    }
}

std::string GpsdClient::ReadLine(Clock::time_point deadline, const std::string& awaited) {
    for (;;) {
        if (const std::size_t newline = m_pending.find('\n'); newline != std::string::npos) {
            std::string line = m_pending.substr(0, newline);
            m_pending.erase(0, newline + 1);
            if (!line.empty() && line.back() == '\r') line.pop_back();
            return line;
        }
        if (m_pending.size() > kMaxLineLength) {
            FailAndDisconnect("gpsd at " + Endpoint() + " sent a line longer than " + std::to_string(kMaxLineLength) +
                              " bytes.");
        }
        pollfd readable{m_socket, POLLIN, 0};
        const int polled = ::poll(&readable, 1, RemainingMilliseconds(deadline));
        if (polled < 0 && errno == EINTR) continue;
        if (polled == 0) {
            FailAndDisconnect("No " + awaited.substr(awaited.find(' ') + 1) + " from gpsd at " + Endpoint() +
                              " within " + std::to_string(m_settings.timeout.count()) + " ms.");
        }
        char chunk[8192];
        const ssize_t count = polled < 0 ? -1 : ::recv(m_socket, chunk, sizeof chunk, 0);
        if (count < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (count < 0) {
            FailAndDisconnect("Lost the connection to gpsd at " + Endpoint() + " waiting for " + awaited + ": " +
                              std::strerror(errno) + ".");
        }
        if (count == 0) {
            FailAndDisconnect("The connection to gpsd at " + Endpoint() + " closed before " + awaited + " arrived.");
        }
        m_pending.append(chunk, static_cast<std::size_t>(count));
    }
}

std::string GpsdClient::ReadReply(const GpsdCommand& command, Clock::time_point deadline) {
    const std::string awaited = "an answer to " + command.text;
    std::string reply;
    for (;;) {
        const std::string line = ReadLine(deadline, awaited);
        if (line.empty()) continue;
        const std::string replyClass = ReplyClass(line);
        if (IsStreamedReport(replyClass, command.name)) continue;
        if (!reply.empty()) reply += '\n';
        reply += line;
        if (EndsReply(replyClass, command.name)) return reply;
    }
}

void GpsdClient::SendAll(std::string_view text, Clock::time_point deadline) {
    const std::string what(text);
    while (!text.empty()) {
        const ssize_t sent = ::send(m_socket, text.data(), text.size(), MSG_NOSIGNAL);
        if (sent >= 0) {
            text.remove_prefix(static_cast<std::size_t>(sent));
            continue;
        }
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            pollfd writable{m_socket, POLLOUT, 0};
            if (::poll(&writable, 1, RemainingMilliseconds(deadline)) == 0) {
                FailAndDisconnect("gpsd at " + Endpoint() + " took no request within " +
                                  std::to_string(m_settings.timeout.count()) + " ms.");
            }
            continue;
        }
        FailAndDisconnect("Could not send " + what + " to gpsd at " + Endpoint() + ": " + std::strerror(errno) + ".");
    }
}

std::string GpsdClient::Exchange(std::string_view request) {
    const std::vector<GpsdCommand> commands = SplitRequest(request);
    std::lock_guard lock(m_mutex);

    // Drop what a watch streamed since the last request; notice a connection gpsd has closed.
    while (m_socket >= 0) {
        char chunk[8192];
        const ssize_t count = ::recv(m_socket, chunk, sizeof chunk, MSG_DONTWAIT);
        if (count > 0) {
            // Keep only an unfinished last line: its rest is still to come.
            m_pending.append(chunk, static_cast<std::size_t>(count));
            if (const std::size_t last = m_pending.rfind('\n'); last != std::string::npos) m_pending.erase(0, last + 1);
            continue;
        }
        if (count < 0 && errno == EINTR) continue;
        if (count < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        Disconnect();
    }
    if (m_socket < 0) Connect();

    const auto deadline = Clock::now() + m_settings.timeout;
    std::string text;
    for (const GpsdCommand& command : commands) text += command.text;
    SendAll(text, deadline);

    std::string answer;
    for (const GpsdCommand& command : commands) {
        if (!answer.empty()) answer += '\n';
        answer += ReadReply(command, deadline);
        if (command.name == "WATCH") m_watch = command.text;
    }
    return answer;
}

}  // namespace KivFldExternalGpsProvider
