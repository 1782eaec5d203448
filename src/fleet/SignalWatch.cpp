#include "fleet/SignalWatch.h"

#include <cmath>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

CSignalWatch::CSignalWatch() {
    sigemptyset(&m_set);
    signal(SIGCHLD, SIG_DFL); // an ignored SIGCHLD would take the children's statuses
    for (int signal : {SIGCHLD, SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction current {};
        if (sigaction(signal, nullptr, &current) == 0 && (signal == SIGCHLD || current.sa_handler != SIG_IGN)) {
            sigaddset(&m_set, signal);
        }
    }
    sigprocmask(SIG_BLOCK, &m_set, &m_before);
    m_fd = signalfd(-1, &m_set, SFD_NONBLOCK | SFD_CLOEXEC);
}

CSignalWatch::~CSignalWatch() {
    if (m_fd >= 0) {
        close(m_fd);
    }
    sigprocmask(SIG_SETMASK, &m_before, nullptr);
}

std::vector<int> CSignalWatch::wait(double seconds) {
    struct pollfd watched = {m_fd, POLLIN, 0};
    struct timespec limit {};
    if (seconds >= 0) {
        limit.tv_sec = static_cast<time_t>(seconds);
        limit.tv_nsec = static_cast<long>((seconds - std::floor(seconds)) * 1e9);
    }
    ppoll(&watched, 1, seconds >= 0 ? &limit : nullptr, nullptr);
    std::vector<int> signals;
    struct signalfd_siginfo info {};
    while (read(m_fd, &info, sizeof(info)) == static_cast<ssize_t>(sizeof(info))) {
        signals.push_back(static_cast<int>(info.ssi_signo));
    }
    return signals;
}
