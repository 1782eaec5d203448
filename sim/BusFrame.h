#pragma once

#include <cstdint>
#include <string>

namespace sim {

// One frame on the gateway port 11575: 0x01, the frame type, a 16-bit
// little-endian data length and that many data bytes, which carry exactly
// one transmitted bus telegram.
struct BusFrame {
    static const size_t kHeaderSize = 4;
    static const uint16_t kMaxDataLength = 520; // the tool never sends more
    static const unsigned char kStart = 0x01;
    static const unsigned char kTelegramType = 0x01;

    std::string data;
    std::string wire; // the bytes exactly as received, for the logs

    // A frame of type 1 around the telegram.
    static std::string wrap(const std::string& telegram);
};

} // namespace sim
