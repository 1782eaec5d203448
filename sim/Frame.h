#pragma once

#include <cstdint>
#include <string>

namespace sim {

// One controller frame as it travels on port 11574: SOH, type and data id;
// every type that is not header-only adds a 32-bit little-endian length and
// that many data bytes.
struct Frame {
    static const size_t kShortHeader = 3;
    static const size_t kLongHeader = 7;

    unsigned char type = 0;
    unsigned char dataId = 0;
    std::string data;
    std::string wire; // the bytes exactly as received, for the frame log

    static bool isHeaderOnly(unsigned char type);
    static size_t headerSize(unsigned char type);

    // Wire form of a frame the controller sends (SOH is always 1).
    static std::string encode(unsigned char type, unsigned char dataId);
    static std::string encode(unsigned char type, unsigned char dataId, const std::string& data);

    // The controller's error response: type 2 with the error in the data id.
    static std::string errorResponse(unsigned char errorId);

    static uint32_t readLength(const std::string& bytes, size_t offset);
};

} // namespace sim
