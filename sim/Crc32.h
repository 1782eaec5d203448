#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace sim {

// CRC-32 with the reflected polynomial 0xEDB88320 (the one zlib and
// Ethernet use), fed in pieces.
class Crc32 {
public:
    void update(const std::string& bytes);
    uint32_t value() const { return ~m_state; }

private:
    uint32_t m_state = 0xFFFFFFFFu;
};

} // namespace sim
