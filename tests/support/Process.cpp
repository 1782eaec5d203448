#include "support/Process.h"

#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace testsupport {

namespace {

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    for (std::string& text : texts) {
        pointers.push_back(&text[0]);
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Runs in the child between fork and exec: only async-signal-safe calls.
void redirect(int targetFd, const char* path, int flags) {
    int fd = ::open(path, flags, 0644);
    if (fd < 0 || ::dup2(fd, targetFd) < 0) {
        _exit(127);
    }
    ::close(fd);
}

} // namespace

bool Process::start(std::vector<std::string> argv, std::vector<std::string> extraEnv,
                    std::string stdoutPath, std::string stderrPath) {
    if (running() || argv.empty()) {
        return false;
    }
    std::vector<std::string> environment;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string nameIs = std::string(*entry).substr(0, std::string(*entry).find('=') + 1);
        bool replaced = false;
        for (const std::string& extra : extraEnv) {
            replaced = replaced || extra.rfind(nameIs, 0) == 0;
        }
        if (!replaced) {
            environment.push_back(*entry);
        }
    }
    environment.insert(environment.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> args = pointersTo(argv);
    std::vector<char*> envp = pointersTo(environment);
    const char* outPath = stdoutPath.empty() ? "/dev/null" : stdoutPath.c_str();
    const char* errPath = stderrPath.empty() ? "/dev/null" : stderrPath.c_str();

    pid_t parent = ::getpid();
    m_pid = ::fork();
    if (m_pid == 0) {
        // A test process that dies must not leave its children running.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) {
            _exit(127);
        }
        redirect(STDIN_FILENO, "/dev/null", O_RDONLY);
        redirect(STDOUT_FILENO, outPath, O_WRONLY | O_CREAT | O_TRUNC);
        redirect(STDERR_FILENO, errPath, O_WRONLY | O_CREAT | O_TRUNC);
        ::execve(args[0], args.data(), envp.data());
        _exit(127);
    }
    m_status.reset();
    return m_pid > 0;
}

std::optional<int> Process::waitExit(int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (running()) {
        int status = 0;
        if (::waitpid(m_pid, &status, WNOHANG) == m_pid) {
            m_status = WIFSIGNALED(status) ? -1000 - WTERMSIG(status) : WEXITSTATUS(status);
        } else if (std::chrono::steady_clock::now() >= deadline) {
            return std::nullopt;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }
    return m_status;
}

std::optional<int> Process::stop() {
    if (running()) {
        ::kill(m_pid, SIGTERM);
        if (!waitExit(2000)) {
            ::kill(m_pid, SIGKILL);
            waitExit(10000);
        }
    }
    return m_status;
}

} // namespace testsupport
