#pragma once

#include <cstdint>

// Millisecond deadline timer on the wall clock. Every socket operation keeps
// its own timer on the stack; all waits sleep instead of spinning.
class CTimer {
public:
    CTimer();

    // Milliseconds since the epoch, the fraction of a millisecond dropped.
    uint64_t getTime() const;

    void startTimeoutTimer(unsigned long timeoutMs);
    bool isRunning() const;
    // Milliseconds left until the running time-out ends, 0 once it has ended.
    unsigned long getRemainingMillis() const;

    // Sleeps until ms milliseconds have passed; replaces a running time-out.
    void waitMillis(unsigned long ms);
    void wait(unsigned short seconds);

private:
    uint64_t m_endTime;
};
