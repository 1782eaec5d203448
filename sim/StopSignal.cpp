#include "StopSignal.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace sim {

namespace {

int g_writeEnd = -1;

void onStopSignal(int) {
    int savedErrno = errno;
    char byte = 1;
    ssize_t ignored = ::write(g_writeEnd, &byte, 1);
    (void)ignored;
    errno = savedErrno;
}

} // namespace

StopSignal::StopSignal() = default;

StopSignal::~StopSignal() {
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
    g_writeEnd = -1;
    for (int fd : m_pipe) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

bool StopSignal::install() {
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    g_writeEnd = m_pipe[1];
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    return true;
}

} // namespace sim
