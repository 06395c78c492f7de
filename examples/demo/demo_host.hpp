// What the demo host needs around the bridge: a work folder, files, a gpsfake child process on a
// loopback port, and a UI callback that prints and records the events of a hosted UI.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "kiv/fld/managed_ui.hpp"

extern char** environ;

namespace kivfld::demo {

namespace fs = std::filesystem;

inline void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

/// Whether `program` is an executable file in a folder of PATH.
inline bool IsOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');) {
        if (!folder.empty() && ::access((fs::path(folder) / program).c_str(), X_OK) == 0) return true;
    }
    return false;
}

/// A value of the environment, or none when it is unset or empty.
inline std::optional<std::string> Setting(const char* name) {
    const char* value = std::getenv(name);
    if (!value || !*value) return std::nullopt;
    return std::string(value);
}

/// A TCP port on 127.0.0.1 that nothing listened on a moment ago.
inline int UnusedLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    int port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0)
        port = ntohs(address.sin_port);
    if (fd >= 0) ::close(fd);
    return port;
}

inline bool AcceptsConnections(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return false;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

/// A child process in a process group of its own, its output in a log file; ended with its whole
/// group (SIGTERM, then SIGKILL) when this object goes, so no server outlives the demo's step.
class ChildProcess {
public:
    ChildProcess(const std::vector<std::string>& argv, const fs::path& log) {
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawnattr_t attributes;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
        posix_spawnattr_init(&attributes);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
        posix_spawnattr_setpgroup(&attributes, 0);
        if (posix_spawnp(&m_pid, args[0], &actions, &attributes, args.data(), environ) != 0) m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    ~ChildProcess() { Stop(); }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return m_pid > 0; }
    /// Whether the child has ended (reaping it if so).
    bool Ended() {
        if (m_pid <= 0) return true;
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) m_pid = -1;
        return m_pid <= 0;
    }
    void Stop() {
        if (m_pid <= 0) return;
        ::kill(-m_pid, SIGTERM);
        for (int i = 0; i < 40 && !Ended(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        if (m_pid > 0) {
            ::kill(-m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
            m_pid = -1;
        }
    }

private:
    pid_t m_pid = -1;
};

/// The events one hosted UI raised, shared with its callback: the UI deletes the callback on its
/// own thread when it is done with it.
struct UiEvents {
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::string> events;
    bool callbackDeleted = false;

    std::vector<std::string> Events() {
        const std::lock_guard lock(mutex);
        return events;
    }
    bool CallbackDeleted() {
        const std::lock_guard lock(mutex);
        return callbackDeleted;
    }
    /// Waits up to `timeout` for an event that starts with `prefix`; returns the latest such event.
    std::optional<std::string> WaitFor(const std::string& prefix, std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex);
        std::optional<std::string> found;
        changed.wait_for(lock, timeout, [&] {
            for (auto event = events.rbegin(); event != events.rend(); ++event) {
                if (event->rfind(prefix, 0) == 0) {
                    found = *event;
                    return true;
                }
            }
            return false;
        });
        return found;
    }
};

/// Prints each event of a hosted UI as it comes, on the UI's thread, and records it.
class PrintingCallback final : public kiv::fld::IKivManagedUiCallback {
public:
    explicit PrintingCallback(std::shared_ptr<UiEvents> events) : m_events(std::move(events)) {}
    ~PrintingCallback() override {
        const std::lock_guard lock(m_events->mutex);
        m_events->callbackDeleted = true;
        m_events->changed.notify_all();
    }

    void HandleEvent(const std::string& data) override {
        std::printf("  event: %s\n", data.c_str());
        std::fflush(stdout);
        const std::lock_guard lock(m_events->mutex);
        m_events->events.push_back(data);
        m_events->changed.notify_all();
    }

private:
    std::shared_ptr<UiEvents> m_events;
};

}  // namespace kivfld::demo
