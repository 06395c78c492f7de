// Helpers for the component library tests: environment and folders that clean up after
// themselves, and child processes (test servers, checker scripts) bounded in time and always ended.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kivfld::components::testing {

/// Debian's python3 (it has python3-aiosmtpd and python3-gps, which another python may lack).
inline constexpr const char* kPython = KIVFLD_TEST_PYTHON;
/// The folder of the component tests' scripts.
inline const std::filesystem::path kScriptsDir = KIVFLD_COMPONENT_TESTS_DIR;
/// The folder of the data files the tests ship.
inline const std::filesystem::path kDataDir = KIVFLD_TEST_DATA_DIR;

/// Sets and unsets environment variables, restoring every touched one at destruction.
/// WARNING: the environment is process-wide; use only while no other thread reads it.
class ScopedEnvironment {
public:
    ScopedEnvironment() = default;
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    void Set(const std::string& name, const std::string& value);
    void Unset(const std::string& name);

private:
    void Remember(const std::string& name);
    std::map<std::string, std::optional<std::string>> m_saved;
};

/// A new empty folder under the system's temporary folder, removed with its content at destruction.
class TemporaryFolder {
public:
    TemporaryFolder();
    ~TemporaryFolder();
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;

    const std::filesystem::path& Path() const noexcept { return m_path; }

private:
    std::filesystem::path m_path;
};

/// Writes `bytes` to `path` exactly.
void WriteFile(const std::filesystem::path& path, const std::string& bytes);
/// The exact bytes of `path`.
std::string ReadFile(const std::filesystem::path& path);
/// The regular files directly inside `folder`, sorted by name.
std::vector<std::filesystem::path> FilesIn(const std::filesystem::path& folder);
/// Whether `program` is an executable file in one of the folders of PATH.
bool IsOnPath(const std::string& program);

/// A child process in a process group of its own, its standard output and error on one pipe.
/// Destruction ends the whole group (SIGTERM, SIGKILL after two seconds) and reaps the child,
/// so a failing test leaves no server behind.
class ChildProcess {
public:
    /// Starts `argv` (argv[0] looked up in PATH). Raises std::runtime_error when it cannot start.
    explicit ChildProcess(const std::vector<std::string>& argv);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    pid_t Pid() const noexcept { return m_pid; }
    /// The next output line (without its newline), or nullopt at end of output or after `timeout`.
    std::optional<std::string> ReadLine(std::chrono::milliseconds timeout);
    /// Everything read so far, for failure messages.
    const std::string& Transcript() const noexcept { return m_transcript; }
    /// Ends the group now; returns the child's wait status.
    int Stop();

private:
    pid_t m_pid = -1;
    int m_output = -1;
    std::string m_buffer;
    std::string m_transcript;
    std::optional<int> m_status;
};

/// What a finished program did.
struct ProcessResult {
    int exitCode = -1;  ///< -1 when it did not exit normally (signal, timeout).
    bool timedOut = false;
    std::string output;  ///< Standard output and error together.
};

/// Runs `argv` to completion, killing it after `timeout`.
ProcessResult RunProcess(const std::vector<std::string>& argv, std::chrono::milliseconds timeout);

/// A TCP port on 127.0.0.1 that nothing listened on a moment ago.
int UnusedLoopbackPort();
/// Whether something accepts TCP connections on 127.0.0.1:`port` before `timeout`.
bool WaitForListener(int port, std::chrono::milliseconds timeout);

/// Lower-case hex of `bytes`, for passing exact text on a command line.
std::string Hex(const std::string& bytes);

}  // namespace kivfld::components::testing
