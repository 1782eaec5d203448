#include "HostilePlan.h"

namespace sim {

namespace {

using Kind = Mischief::Kind;

// Chances per million that a reply goes wrong, and that a template block
// starts a spell of 2 to 16 bad replies in a row.
const uint32_t kStepRate = 100000;
const uint32_t kBulkRate = 5000;
const uint32_t kSpellRate = 300;
const unsigned long kShortestSpell = 2;
const unsigned long kLongestSpell = 16;

struct Weight {
    Kind kind;
    unsigned step;
    unsigned bulk;
};

// How often each kind is drawn when a reply goes wrong. A cut-off reply
// holds the client for its data time-out and a closed connection ends the
// run, so among the thousands of template blocks both stay rare.
const Weight kWeights[] = {
    {Kind::Late, 20, 25},   {Kind::Silence, 14, 20}, {Kind::Mute, 3, 1},
    {Kind::Corrupt, 14, 18}, {Kind::Length, 8, 5},   {Kind::Truncate, 6, 4},
    {Kind::Extra, 10, 10},  {Kind::Source, 10, 8},   {Kind::Garbage, 8, 6},
    {Kind::Close, 3, 1},    {Kind::Trickle, 4, 2},
};

const Kind kSpellKinds[] = {Kind::Silence, Kind::Corrupt, Kind::Garbage, Kind::Late,
                            Kind::Source};

unsigned weightOf(const Weight& weight, HostilePlan::Traffic traffic) {
    return traffic == HostilePlan::Traffic::Step ? weight.step : weight.bulk;
}

} // namespace

HostilePlan::HostilePlan(uint64_t seed, uint16_t port, unsigned long clientSpeedup)
    : m_prng(seed ^ (static_cast<uint64_t>(port) << 48)),
      m_speedup(clientSpeedup == 0 ? 1 : clientSpeedup) {}

Mischief HostilePlan::next(Traffic traffic, unsigned long clientTimeoutMs) {
    Mischief mischief;
    if (m_spellLeft > 0 || startSpell(traffic)) {
        --m_spellLeft;
        mischief.kind = m_spellKind;
    } else if (m_prng.chance(traffic == Traffic::Step ? kStepRate : kBulkRate)) {
        mischief.kind = drawKind(traffic);
    }
    if (mischief.kind == Kind::None) {
        return mischief;
    }
    mischief.delayMs = onOwnClock(drawDelay(mischief.kind, clientTimeoutMs));
    if (mischief.kind == Kind::Trickle) {
        mischief.spanMs =
            onOwnClock(m_prng.between(clientTimeoutMs / 10, 2 * clientTimeoutMs));
    }
    return mischief;
}

bool HostilePlan::startSpell(Traffic traffic) {
    if (traffic != Traffic::Bulk || !m_prng.chance(kSpellRate)) {
        return false;
    }
    m_spellLeft = m_prng.between(kShortestSpell, kLongestSpell);
    m_spellKind = kSpellKinds[m_prng.below(sizeof kSpellKinds / sizeof kSpellKinds[0])];
    return true;
}

Mischief::Kind HostilePlan::drawKind(Traffic traffic) {
    unsigned total = 0;
    for (const Weight& weight : kWeights) {
        total += weightOf(weight, traffic);
    }
    uint64_t pick = m_prng.below(total);
    for (const Weight& weight : kWeights) {
        if (pick < weightOf(weight, traffic)) {
            return weight.kind;
        }
        pick -= weightOf(weight, traffic);
    }
    return Kind::None;
}

// A late reply comes as often within the client's time-out as past it (up
// to three times that long); any other bent reply is mostly prompt.
unsigned long HostilePlan::drawDelay(Mischief::Kind kind, unsigned long timeoutMs) {
    if (kind == Kind::Late) {
        return m_prng.chance(500000) ? m_prng.between(0, timeoutMs * 8 / 10)
                                     : m_prng.between(timeoutMs * 12 / 10, timeoutMs * 3);
    }
    return m_prng.chance(250000) ? m_prng.between(0, timeoutMs / 2) : 0;
}

} // namespace sim
