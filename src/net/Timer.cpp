#include "net/Timer.h"

#include "base/Interrupt.h"
#include "base/Progress.h"

#include <ctime>

CTimer::CTimer() : m_endTime(0) {}

uint64_t CTimer::getTime() const {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000 + static_cast<uint64_t>(now.tv_nsec) / 1000000;
}

void CTimer::startTimeoutTimer(unsigned long timeoutMs) {
    m_endTime = getTime() + static_cast<uint64_t>(timeoutMs);
}

bool CTimer::isRunning() const {
    return getTime() < m_endTime;
}

unsigned long CTimer::getRemainingMillis() const {
    uint64_t now = getTime();
    return now < m_endTime ? static_cast<unsigned long>(m_endTime - now) : 0;
}

void CTimer::waitMillis(unsigned long ms) {
    startTimeoutTimer(ms);
    // nanosleep may wake early on a signal, so sleep again for what is left.
    for (unsigned long left = getRemainingMillis(); left > 0; left = getRemainingMillis()) {
        struct timespec pause;
        pause.tv_sec = static_cast<time_t>(left / 1000);
        pause.tv_nsec = static_cast<long>(left % 1000) * 1000000L;
        nanosleep(&pause, nullptr);
        CInterrupt::checkpoint();
    }
}

void CTimer::wait(unsigned short seconds) {
    waitMillis(static_cast<unsigned long>(seconds) * 1000);
}

void CTimer::wait(unsigned short seconds, const std::string& what) {
    if (!CProgress::isEnabled()) {
        wait(seconds);
        return;
    }
    startTimeoutTimer(static_cast<unsigned long>(seconds) * 1000);
    for (unsigned long left = getRemainingMillis(); left > 0; left = getRemainingMillis()) {
        CProgress::show(what + ": " + std::to_string((left + 999) / 1000) + " s");
        CTimer step;
        step.waitMillis(left % 1000 == 0 ? 1000 : left % 1000);
    }
    CProgress::clear();
}
