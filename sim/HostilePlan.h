#pragma once

#include "Mischief.h"
#include "Prng.h"

#include <cstdint>
#include <string>
#include <unordered_map>

namespace sim {

// The hostile peer's choices on one port (--hostile SEED): which replies go
// wrong, how, and how late. A reply's fate hangs only on the seed, the
// port, the request (its bytes as received) and how often the same request
// came before, never on what else came in between: when a client under
// load repeats one request once more, the replies to all other requests
// stay as they were, and a run with the same seed takes the same course.
//
// Delays are drawn against how long the client waits for the reply on its
// own clock, from none to well past that time-out, and divided by
// --client-speedup for the simulator's clock.
class HostilePlan {
public:
    // The single steps of a run (version, login, data sets, module lookup,
    // configuration, CRC, ...) go wrong far more often than the template
    // blocks, which come by the thousand. A block may be cursed instead:
    // its first 2 to 16 attempts all go wrong the same way, which may
    // outlast the client's retries.
    enum class Traffic { Step, Bulk };

    HostilePlan(uint64_t seed, uint16_t port, unsigned long clientSpeedup);

    // The mischief for the reply to the request, which the client awaits
    // for clientTimeoutMs on its own clock.
    Mischief next(const std::string& request, Traffic traffic, unsigned long clientTimeoutMs);

    // The generator of the latest request, which also shapes its bent bytes.
    Prng* prng() { return &m_prng; }

private:
    Mischief::Kind drawKind(Traffic traffic);
    Mischief::Kind curse(uint64_t requestKey, unsigned long attempt) const;
    unsigned long drawDelay(Mischief::Kind kind, unsigned long timeoutMs);
    unsigned long onOwnClock(unsigned long clientMs) const { return clientMs / m_speedup; }

    uint64_t m_seed;
    unsigned long m_speedup;
    std::unordered_map<uint64_t, unsigned long> m_seen; // times each request came
    Prng m_prng{0};
};

} // namespace sim
