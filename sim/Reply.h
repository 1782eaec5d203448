#pragma once

#include <cstddef>
#include <string>

namespace sim {

// Bytes a service wants sent to its client, and how the server sends them.
struct Reply {
    std::string bytes;
    unsigned long delayMs = 0;    // held back this long after the request arrived
    bool closeAfterwards = false; // the connection ends once the bytes went out
};

// Where a reply keeps the length of its data: offset and size in bytes,
// little-endian, the top bit of the last byte being the sign where the
// client reads one. Size 0: the reply has no length field, and no data
// behind its header of offset bytes.
struct LengthField {
    size_t offset = 0;
    size_t size = 0;

    size_t dataStart() const { return offset + size; }
};

} // namespace sim
