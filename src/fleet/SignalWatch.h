#pragma once

#include <csignal>
#include <vector>

// The signals the fleet waits for (a child's end, SIGINT, SIGTERM, and
// SIGHUP unless it was ignored at the start) are blocked and read from a
// signalfd, so that one ppoll() sleeps until a child ends, a signal comes
// or a deadline is due, and no handler runs amid other work.
class CSignalWatch {
public:
    CSignalWatch();
    ~CSignalWatch();
    CSignalWatch(const CSignalWatch&) = delete;
    CSignalWatch& operator=(const CSignalWatch&) = delete;

    // Sleeps at most seconds (< 0: without limit); the signals that came.
    std::vector<int> wait(double seconds);

private:
    sigset_t m_set;
    sigset_t m_before;
    int m_fd = -1;
};
