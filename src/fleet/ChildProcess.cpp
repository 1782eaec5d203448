#include "fleet/ChildProcess.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

std::vector<std::string> environmentWith(const std::vector<std::string>& added) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text = *entry;
        const std::string nameIs = text.substr(0, text.find('=') + 1);
        bool replaced = false;
        for (const std::string& extra : added) {
            replaced = replaced || extra.compare(0, nameIs.size(), nameIs) == 0;
        }
        if (!replaced) {
            result.push_back(text);
        }
    }
    result.insert(result.end(), added.begin(), added.end());
    return result;
}

std::vector<char*> pointersTo(std::vector<std::string>& texts) {
    std::vector<char*> pointers;
    pointers.reserve(texts.size() + 1);
    for (std::string& text : texts) {
        pointers.push_back(&text[0]);
    }
    pointers.push_back(nullptr);
    return pointers;
}

// Between fork and exec: async-signal-safe calls only.
[[noreturn]] void becomeChild(pid_t parent, int inputFd, int outputFd, char** argv, char** envp) {
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) {
        _exit(127);
    }
    setpgid(0, 0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    signal(SIGPIPE, SIG_DFL);
    dup2(inputFd, STDIN_FILENO);
    if (outputFd >= 0) {
        dup2(outputFd, STDOUT_FILENO);
        dup2(outputFd, STDERR_FILENO);
    }
    execve(argv[0], argv, envp);
    _exit(127);
}

} // namespace

pid_t CChildProcess::spawn(const Spec& spec) {
    std::vector<std::string> argvTexts = spec.argv;
    std::vector<std::string> envTexts = environmentWith(spec.environment);
    std::vector<char*> argv = pointersTo(argvTexts);
    std::vector<char*> envp = pointersTo(envTexts);
    int pipeFds[2] = {-1, -1};
    const int inputFd = spec.usesInput ? (pipe2(pipeFds, O_CLOEXEC) == 0 ? pipeFds[0] : -1)
                                       : open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (inputFd < 0) {
        throw std::runtime_error(std::string("cannot start a child: ") + strerror(errno));
    }
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        becomeChild(parent, inputFd, spec.outputFd, argv.data(), envp.data());
    }
    const int forkError = errno;
    close(inputFd);
    if (spec.usesInput) {
        // A password is far below a pipe's capacity: this never blocks. A
        // child that gets none says so in its log.
        if (pid > 0) {
            const ssize_t wrote = write(pipeFds[1], spec.input.data(), spec.input.size());
            static_cast<void>(wrote);
        }
        close(pipeFds[1]);
    }
    if (pid < 0) {
        throw std::runtime_error(std::string("cannot start a child: ") + strerror(forkError));
    }
    setpgid(pid, pid); // as the child does, whichever runs first
    return pid;
}

int CChildProcess::exitStatusOf(int waitStatus) {
    return WIFSIGNALED(waitStatus) ? 128 + WTERMSIG(waitStatus) : WEXITSTATUS(waitStatus);
}
