// Environment, folders and bounded child processes for the component library tests.
#include "component_test_support.hpp"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace kivfld::components::testing {
namespace {

using Clock = std::chrono::steady_clock;

int RemainingMilliseconds(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60'000));
}

// Spawns `argv` in a new process group with stdout and stderr on a pipe; returns pid and read end.
std::pair<pid_t, int> Spawn(const std::vector<std::string>& argv) {
    int pipeEnds[2];
    if (::pipe2(pipeEnds, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 1);
    posix_spawn_file_actions_adddup2(&actions, pipeEnds[1], 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
    posix_spawnattr_setpgroup(&attributes, 0);

    std::vector<char*> arguments;
    for (const std::string& argument : argv) arguments.push_back(const_cast<char*>(argument.c_str()));
    arguments.push_back(nullptr);
    pid_t pid = -1;
    const int error = posix_spawnp(&pid, argv.at(0).c_str(), &actions, &attributes, arguments.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    ::close(pipeEnds[1]);
    if (error != 0) {
        ::close(pipeEnds[0]);
        throw std::runtime_error("could not start " + argv.at(0) + ": " + std::strerror(error));
    }
    return {pid, pipeEnds[0]};
}

// Ends the process group `pid` leads and reaps `pid`; returns its wait status.
int EndGroup(pid_t pid) {
    ::kill(-pid, SIGTERM);
    int status = 0;
    const auto deadline = Clock::now() + std::chrono::seconds(2);
    while (Clock::now() < deadline) {
        // WNOWAIT keeps the exited leader a zombie, so its group id cannot be reused before the
        // SIGKILL below reaches whatever it left behind in the group.
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) == 0 && info.si_pid == pid) {
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ::kill(-pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    return status;
}

}  // namespace

ScopedEnvironment::~ScopedEnvironment() {
    for (const auto& [name, value] : m_saved) {
        if (value) {
            ::setenv(name.c_str(), value->c_str(), 1);
        } else {
            ::unsetenv(name.c_str());
        }
    }
}

void ScopedEnvironment::Remember(const std::string& name) {
    if (m_saved.contains(name)) return;
    const char* value = std::getenv(name.c_str());
    m_saved.emplace(name, value ? std::optional<std::string>(value) : std::nullopt);
}

void ScopedEnvironment::Set(const std::string& name, const std::string& value) {
    Remember(name);
    ::setenv(name.c_str(), value.c_str(), 1);
}

void ScopedEnvironment::Unset(const std::string& name) {
    Remember(name);
    ::unsetenv(name.c_str());
}

TemporaryFolder::TemporaryFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kivfld-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TemporaryFolder::~TemporaryFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!stream.flush()) throw std::runtime_error("could not write " + path.string());
}

std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream stream(path, std::ios::binary);
    if (!stream) throw std::runtime_error("could not read " + path.string());
    return std::string(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
}

std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
    }
    std::sort(files.begin(), files.end());
    return files;
}

bool IsOnPath(const std::string& program) {
    const char* path = std::getenv("PATH");
    std::stringstream folders(path ? path : "");
    for (std::string folder; std::getline(folders, folder, ':');) {
        const std::filesystem::path candidate = std::filesystem::path(folder.empty() ? "." : folder) / program;
        if (::access(candidate.c_str(), X_OK) == 0) return true;
    }
    return false;
}

ChildProcess::ChildProcess(const std::vector<std::string>& argv) { std::tie(m_pid, m_output) = Spawn(argv); }

ChildProcess::~ChildProcess() {
    Stop();
    if (m_output >= 0) ::close(m_output);
}

std::optional<std::string> ChildProcess::ReadLine(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        if (const std::size_t newline = m_buffer.find('\n'); newline != std::string::npos) {
            std::string line = m_buffer.substr(0, newline);
            m_buffer.erase(0, newline + 1);
            return line;
        }
        if (m_output < 0) return std::nullopt;
        pollfd ready{m_output, POLLIN, 0};
        const int polled = ::poll(&ready, 1, RemainingMilliseconds(deadline));
        if (polled < 0 && errno == EINTR) continue;
        if (polled <= 0) return std::nullopt;
        char chunk[4096];
        const ssize_t count = ::read(m_output, chunk, sizeof chunk);
        if (count <= 0) {
            ::close(m_output);
            m_output = -1;
            continue;
        }
        m_buffer.append(chunk, static_cast<std::size_t>(count));
        m_transcript.append(chunk, static_cast<std::size_t>(count));
    }
}

int ChildProcess::Stop() {
    if (!m_status && m_pid > 0) m_status = EndGroup(m_pid);
    return m_status.value_or(0);
}

ProcessResult RunProcess(const std::vector<std::string>& argv, std::chrono::milliseconds timeout) {
    ProcessResult result;
    const auto [pid, output] = Spawn(argv);
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        pollfd ready{output, POLLIN, 0};
        const int polled = ::poll(&ready, 1, RemainingMilliseconds(deadline));
        if (polled < 0 && errno == EINTR) continue;
        if (polled == 0) {
            result.timedOut = true;
            break;
        }
        char chunk[4096];
        const ssize_t count = ::read(output, chunk, sizeof chunk);
        if (count <= 0) break;
        result.output.append(chunk, static_cast<std::size_t>(count));
    }
    ::close(output);
    int status = 0;
    if (result.timedOut) {
        status = EndGroup(pid);
    } else {
        ::waitpid(pid, &status, 0);
    }
    if (!result.timedOut && WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
    return result;
}

int UnusedLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    socklen_t length = sizeof address;
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        if (fd >= 0) ::close(fd);
        throw std::runtime_error("could not find a free loopback port");
    }
    ::close(fd);
    return ntohs(address.sin_port);
}

bool WaitForListener(int port, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(port));
        const bool connected = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        if (connected) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
}

std::string Hex(const std::string& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    for (const char c : bytes) {
        out += kDigits[static_cast<unsigned char>(c) >> 4];
        out += kDigits[static_cast<unsigned char>(c) & 0x0F];
    }
    return out;
}

}  // namespace kivfld::components::testing
