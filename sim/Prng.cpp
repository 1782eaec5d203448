#include "Prng.h"

namespace sim {

uint64_t Prng::next() {
    uint64_t z = (m_state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
}

uint64_t Prng::below(uint64_t n) {
    return n == 0 ? 0 : next() % n;
}

uint64_t Prng::between(uint64_t low, uint64_t high) {
    return high <= low ? low : low + below(high - low + 1);
}

bool Prng::chance(uint32_t perMillion) {
    return below(1000000) < perMillion;
}

std::string Prng::bytes(size_t count) {
    std::string result;
    result.reserve(count);
    while (result.size() < count) {
        result.push_back(static_cast<char>(byte()));
    }
    return result;
}

} // namespace sim
