#pragma once

#include <cstdint>
#include <string>

namespace sim {

// Deterministic pseudo-random numbers (splitmix64): small, fast and well
// mixed, and the same seed gives the same sequence on every machine.
class Prng {
public:
    explicit Prng(uint64_t seed) : m_state(seed) {}

    uint64_t next();
    // Uniform in [0, n); 0 when n is 0.
    uint64_t below(uint64_t n);
    // Uniform in [low, high].
    uint64_t between(uint64_t low, uint64_t high);
    // True with a chance of perMillion in a million.
    bool chance(uint32_t perMillion);
    unsigned char byte() { return static_cast<unsigned char>(next()); }
    std::string bytes(size_t count);

private:
    uint64_t m_state;
};

} // namespace sim
