#include "Connection.h"

#include <cerrno>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {

namespace {
const size_t kReadChunk = 64UL * 1024;
const size_t kMaxDrain = 1024UL * 1024; // a client that never stops sending gets a reset
} // namespace

Connection::~Connection() {
    // Read what is left so that close() sends a plain FIN: unread bytes would
    // turn it into a reset that can destroy the last bytes sent to the client.
    char discard[4096];
    size_t drained = 0;
    ssize_t received = 0;
    while (drained < kMaxDrain &&
           (received = ::recv(m_fd, discard, sizeof discard, MSG_DONTWAIT)) > 0) {
        drained += static_cast<size_t>(received);
    }
    ::close(m_fd);
}

bool Connection::readAvailable(int64_t nowMs) {
    char buffer[kReadChunk];
    ssize_t received = ::recv(m_fd, buffer, sizeof buffer, 0);
    if (received < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    }
    if (received == 0) {
        return false;
    }
    std::vector<Reply> replies;
    bool keepOpen = m_service->bytesReceived(buffer, static_cast<size_t>(received), &replies);
    for (Reply& reply : replies) {
        int64_t dueMs = nowMs + static_cast<int64_t>(reply.delayMs);
        m_pending.push_back(Pending{std::move(reply), dueMs, 0});
    }
    return keepOpen;
}

bool Connection::hasDueReply(int64_t nowMs) const {
    return !m_pending.empty() && m_pending.front().dueMs <= nowMs;
}

int64_t Connection::nextDueMs() const {
    return m_pending.empty() ? -1 : m_pending.front().dueMs;
}

bool Connection::sendDue(int64_t nowMs) {
    while (hasDueReply(nowMs)) {
        Pending& head = m_pending.front();
        const std::string& bytes = head.reply.bytes;
        while (head.sent < bytes.size()) {
            ssize_t sent = ::send(m_fd, bytes.data() + head.sent, bytes.size() - head.sent,
                                  MSG_NOSIGNAL | MSG_DONTWAIT);
            if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                return true; // the rest goes out when the socket is writable again
            }
            if (sent < 0 && errno != EINTR) {
                return false;
            }
            if (sent > 0) {
                head.sent += static_cast<size_t>(sent);
            }
        }
        if (head.reply.closeAfterwards) {
            return false;
        }
        m_pending.pop_front();
    }
    return true;
}

} // namespace sim
