#include "HostilePlan.h"

namespace sim {

namespace {

using Kind = Mischief::Kind;

// Chances per million that a reply goes wrong, and that a template block
// request is cursed for its first 2 to 16 attempts.
const uint32_t kStepRate = 100000;
const uint32_t kBulkRate = 5000;
const uint32_t kCurseRate = 300;
const unsigned long kShortestCurse = 2;
const unsigned long kLongestCurse = 16;
const uint64_t kCurseSalt = 0xC0FFEE;

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

const Kind kCurseKinds[] = {Kind::Silence, Kind::Corrupt, Kind::Garbage, Kind::Late,
                            Kind::Source};

// FNV-1a, 64 bits.
uint64_t hashBytes(const std::string& bytes) {
    uint64_t hash = 0xCBF29CE484222325ULL;
    for (char byte : bytes) {
        hash = (hash ^ static_cast<unsigned char>(byte)) * 0x100000001B3ULL;
    }
    return hash;
}

uint64_t mix(uint64_t a, uint64_t b) {
    return Prng(a ^ (b * 0x9E3779B97F4A7C15ULL)).next();
}

unsigned weightOf(const Weight& weight, HostilePlan::Traffic traffic) {
    return traffic == HostilePlan::Traffic::Step ? weight.step : weight.bulk;
}

} // namespace

HostilePlan::HostilePlan(uint64_t seed, uint16_t port, unsigned long clientSpeedup)
    : m_seed(mix(seed, port)), m_speedup(clientSpeedup == 0 ? 1 : clientSpeedup) {}

Mischief HostilePlan::next(const std::string& request, Traffic traffic,
                           unsigned long clientTimeoutMs) {
    const uint64_t key = mix(m_seed, hashBytes(request));
    const unsigned long attempt = m_seen[key]++;
    m_prng = Prng(mix(key, attempt));
    Mischief mischief;
    if (traffic == Traffic::Bulk) {
        mischief.kind = curse(key, attempt);
    }
    if (mischief.kind == Kind::None &&
        m_prng.chance(traffic == Traffic::Step ? kStepRate : kBulkRate)) {
        mischief.kind = drawKind(traffic);
    }
    if (mischief.kind == Kind::None) {
        return mischief;
    }
    mischief.mutes = mischief.kind == Kind::Mute || mischief.kind == Kind::Close;
    mischief.delayMs = onOwnClock(drawDelay(mischief.kind, clientTimeoutMs));
    if (mischief.kind == Kind::Trickle) {
        mischief.spanMs =
            onOwnClock(m_prng.between(clientTimeoutMs / 10, 2 * clientTimeoutMs));
    }
    return mischief;
}

Mischief::Kind HostilePlan::curse(uint64_t requestKey, unsigned long attempt) const {
    Prng fate(mix(requestKey, kCurseSalt));
    if (!fate.chance(kCurseRate)) {
        return Kind::None;
    }
    const unsigned long length = fate.between(kShortestCurse, kLongestCurse);
    const Kind kind = kCurseKinds[fate.below(sizeof kCurseKinds / sizeof kCurseKinds[0])];
    return attempt < length ? kind : Kind::None;
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
