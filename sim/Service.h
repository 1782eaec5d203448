#pragma once

#include "Reply.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

// The protocol behind one listening port. The device serves one connection
// per port at a time, so a service lives as long as the simulator and keeps
// its per-connection state itself, starting afresh on connectionOpened().
class Service {
public:
    virtual ~Service() = default;

    virtual uint16_t port() const = 0;

    virtual void connectionOpened() = 0;

    // The connection ended, whoever ended it. A service that keeps changes
    // in memory saves them here.
    virtual void connectionClosed() {}

    // Takes the bytes the client sent and appends the replies they call
    // for, in order. Returns false when the connection must end at once.
    virtual bool bytesReceived(const char* bytes, size_t length, std::vector<Reply>* replies) = 0;
};

} // namespace sim
