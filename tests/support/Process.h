#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testsupport {

// A child process started by a test: fork and exec with stdin from
// /dev/null and stdout/stderr into files. It gets SIGTERM when the test
// process dies; the destructor stops it.
class Process {
public:
    Process() = default;
    ~Process() { stop(); }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // argv[0] is the path of the program. extraEnv entries "NAME=value" are
    // added to (or replace entries of) the current environment. An empty
    // path sends that stream to /dev/null. Returns false when fork fails or
    // a process is still running; a failed exec shows as exit status 127.
    bool start(std::vector<std::string> argv, std::vector<std::string> extraEnv,
               std::string stdoutPath, std::string stderrPath);

    pid_t pid() const { return m_pid; }
    bool running() const { return m_pid > 0 && !m_status; }

    // Waits up to timeoutMs for the end of the process. Gives its exit
    // status, or -1000 - signal when a signal ended it; nothing on time-out.
    std::optional<int> waitExit(int timeoutMs);

    // SIGTERM, up to 2 s of grace, then SIGKILL. Returns the final status.
    std::optional<int> stop();

private:
    pid_t m_pid = -1;
    std::optional<int> m_status;
};

} // namespace testsupport
