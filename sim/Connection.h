#pragma once

#include "Reply.h"
#include "Service.h"

#include <cstdint>
#include <deque>
#include <vector>

namespace sim {

// One accepted client socket (non-blocking) and the replies waiting to be
// sent on it. Replies leave in the order they were made: a late reply holds
// back the ones behind it, as on the device.
class Connection {
public:
    Connection(int fd, Service* service) : m_fd(fd), m_service(service) {}
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    int fd() const { return m_fd; }

    // Reads what the client sent and hands it to the service. Returns false
    // when the connection is over (end of stream, error, or the service says so).
    bool readAvailable(int64_t nowMs);

    // Sends the replies that are due. Returns false when the connection is over.
    bool sendDue(int64_t nowMs);

    bool hasDueReply(int64_t nowMs) const;
    // Time of the next reply still waiting, or -1 when none waits.
    int64_t nextDueMs() const;

private:
    struct Pending {
        Reply reply;
        int64_t dueMs;
        size_t sent;
    };

    int m_fd;
    Service* m_service;
    std::deque<Pending> m_pending;
};

} // namespace sim
