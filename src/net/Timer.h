#pragma once

#include <cstdint>
#include <string>

// Millisecond deadline timer on the monotonic clock: a step of the wall
// clock (NTP correcting a laptop's time, someone setting the date) neither
// stretches a pause nor ends a time-out early. Every socket operation keeps
// its own timer on the stack; all waits sleep instead of spinning.
class CTimer {
public:
    CTimer();

    // Milliseconds on the monotonic clock (counted from an arbitrary
    // moment), the fraction of a millisecond dropped.
    uint64_t getTime() const;

    void startTimeoutTimer(unsigned long timeoutMs);
    bool isRunning() const;
    // Milliseconds left until the running time-out ends, 0 once it has ended.
    unsigned long getRemainingMillis() const;

    // Sleeps until ms milliseconds have passed; replaces a running time-out.
    // A signal that ends the run is thrown at once (CInterrupt::checkpoint).
    void waitMillis(unsigned long ms);
    void wait(unsigned short seconds);
    // The same pause; a person at a terminal sees what is awaited and the
    // seconds left, updated once a second.
    void wait(unsigned short seconds, const std::string& what);

private:
    uint64_t m_endTime;
};
