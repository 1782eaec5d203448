#pragma once

#include <cstdint>

namespace sim {

// Milliseconds on the monotonic clock: deadlines must not jump with the wall clock.
class Clock {
public:
    static int64_t nowMs();
};

} // namespace sim
