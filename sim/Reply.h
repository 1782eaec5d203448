#pragma once

#include <string>

namespace sim {

// Bytes a service wants sent to its client, and how the server sends them.
struct Reply {
    std::string bytes;
    unsigned long delayMs = 0;    // held back this long after the request arrived
    bool closeAfterwards = false; // the connection ends once the bytes went out
};

} // namespace sim
