#pragma once

#include "Mischief.h"
#include "Prng.h"

#include <cstdint>

namespace sim {

// The hostile peer's choices on one port (--hostile SEED): which replies go
// wrong, how, and how late. Everything is drawn from one generator seeded
// by SEED and the port, so the same requests meet the same mischief in
// every run with that seed.
//
// Delays are drawn against how long the client waits for the reply on its
// own clock, from none to well past that time-out, and divided by
// --client-speedup for the simulator's clock.
class HostilePlan {
public:
    // The single steps of a run (version, login, data sets, module lookup,
    // configuration, CRC, ...) go wrong far more often than the template
    // blocks, which come by the thousand; the blocks meet spells of bad
    // replies in a row instead, some of which outlast the client's retries.
    enum class Traffic { Step, Bulk };

    HostilePlan(uint64_t seed, uint16_t port, unsigned long clientSpeedup);

    // The mischief for the next reply, which the client awaits for
    // clientTimeoutMs on its own clock.
    Mischief next(Traffic traffic, unsigned long clientTimeoutMs);

    // The generator, which also shapes the bent bytes.
    Prng* prng() { return &m_prng; }

private:
    Mischief::Kind drawKind(Traffic traffic);
    bool startSpell(Traffic traffic);
    unsigned long drawDelay(Mischief::Kind kind, unsigned long timeoutMs);
    unsigned long onOwnClock(unsigned long clientMs) const { return clientMs / m_speedup; }

    Prng m_prng;
    unsigned long m_speedup;
    unsigned long m_spellLeft = 0;
    Mischief::Kind m_spellKind = Mischief::Kind::None;
};

} // namespace sim
