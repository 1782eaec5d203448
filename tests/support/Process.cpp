#include "support/Process.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace testsupport {

namespace {

std::vector<std::string> mergedEnvironment(const std::vector<std::string>& extraEnv) {
    std::vector<std::string> merged;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text = *entry;
        std::string name = text.substr(0, text.find('='));
        bool replaced = false;
        for (const std::string& extra : extraEnv) {
            replaced = replaced || extra.substr(0, extra.find('=')) == name;
        }
        if (!replaced) {
            merged.push_back(text);
        }
    }
    merged.insert(merged.end(), extraEnv.begin(), extraEnv.end());
    return merged;
}

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
    if (fd < 0) {
        _exit(127);
    }
    ::dup2(fd, targetFd);
    ::close(fd);
}

int decodeStatus(int status) {
    if (WIFSIGNALED(status)) {
        return -1000 - WTERMSIG(status);
    }
    return WEXITSTATUS(status);
}

} // namespace

Process::~Process() {
    stop();
}

bool Process::start(std::vector<std::string> argv, std::vector<std::string> extraEnv,
                    std::string stdoutPath, std::string stderrPath) {
    if (running() || argv.empty()) {
        return false;
    }
    std::vector<std::string> environment = mergedEnvironment(extraEnv);
    std::vector<char*> argPointers = pointersTo(argv);
    std::vector<char*> envPointers = pointersTo(environment);
    const char* outPath = stdoutPath.empty() ? "/dev/null" : stdoutPath.c_str();
    const char* errPath = stderrPath.empty() ? "/dev/null" : stderrPath.c_str();
    const int outFlags = O_WRONLY | O_CREAT | O_TRUNC;

    pid_t parent = ::getpid();
    pid_t pid = ::fork();
    if (pid < 0) {
        return false;
    }
    if (pid == 0) {
        // A test process that dies must not leave its children running.
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (::getppid() != parent) {
            _exit(127);
        }
        redirect(STDIN_FILENO, "/dev/null", O_RDONLY);
        redirect(STDOUT_FILENO, outPath, outFlags);
        redirect(STDERR_FILENO, errPath, outFlags);
        ::execve(argPointers[0], argPointers.data(), envPointers.data());
        _exit(127);
    }
    m_pid = pid;
    m_status.reset();
    if (m_pidFd >= 0) {
        ::close(m_pidFd);
    }
    m_pidFd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
    return true;
}

bool Process::reap(bool block) {
    int status = 0;
    pid_t result;
    do {
        result = ::waitpid(m_pid, &status, block ? 0 : WNOHANG);
    } while (result < 0 && errno == EINTR);
    if (result != m_pid) {
        return false;
    }
    m_status = decodeStatus(status);
    if (m_pidFd >= 0) {
        ::close(m_pidFd);
        m_pidFd = -1;
    }
    return true;
}

std::optional<int> Process::waitExit(int timeoutMs) {
    if (m_pid <= 0 || m_status) {
        return m_status;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!reap(false)) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return std::nullopt;
        }
        if (m_pidFd >= 0) {
            pollfd watched{m_pidFd, POLLIN, 0};
            ::poll(&watched, 1, static_cast<int>(left.count()));
        } else {
            // Without a pid descriptor (old kernel) sleep in small steps.
            std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(10)));
        }
    }
    return m_status;
}

std::optional<int> Process::stop() {
    if (!running()) {
        return m_status;
    }
    ::kill(m_pid, SIGTERM);
    if (!waitExit(2000)) {
        ::kill(m_pid, SIGKILL);
        reap(true);
    }
    return m_status;
}

} // namespace testsupport
