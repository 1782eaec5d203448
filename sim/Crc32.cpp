#include "Crc32.h"

#include <array>

namespace sim {

namespace {

std::array<uint32_t, 256> makeTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t value = i;
        for (int bit = 0; bit < 8; ++bit) {
            value = (value & 1) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
        }
        table[i] = value;
    }
    return table;
}

} // namespace

void Crc32::update(const std::string& bytes) {
    static const std::array<uint32_t, 256> table = makeTable();
    for (char c : bytes) {
        m_state = table[(m_state ^ static_cast<unsigned char>(c)) & 0xFF] ^ (m_state >> 8);
    }
}

} // namespace sim
