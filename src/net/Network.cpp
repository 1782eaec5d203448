#include "net/Network.h"

#include "base/Interrupt.h"
#include "net/Timer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// Pause before a refused or failed connect is tried again on a fresh socket.
const unsigned long RETRY_PAUSE_MS = 200;

// The largest piece a growing receipt asks for at once.
const unsigned long MAX_CHUNK = 64UL * 1024;

// Errors after which the non-blocking call is simply tried again once the
// socket is ready.
bool isTransient(int error) {
    return error == EAGAIN || error == EWOULDBLOCK || error == EINPROGRESS || error == EINTR;
}

} // namespace

CNetwork::CNetwork()
    : m_state(STATE_CLOSED), m_replyBounded(false), m_peerClosed(false), m_sendFailed(false) {}

void CNetwork::boundReply(unsigned long limitMs) {
    m_replyDeadline.startTimeoutTimer(limitMs);
    m_replyBounded = true;
}

bool CNetwork::initialize() {
    m_state = STATE_CLOSED;
    return true;
}

bool CNetwork::createSocket() {
    m_socket.close();
    m_peerClosed = false;
    m_sendFailed = false;
    int descriptor = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (descriptor == -1) {
        return false;
    }
    int flags = fcntl(descriptor, F_GETFL, 0);
    fcntl(descriptor, F_SETFL, flags | O_NONBLOCK);
    m_socket.reset(descriptor);
    return true;
}

void CNetwork::waitForSocket(short events, unsigned long timeoutMs) {
    if (timeoutMs == 0) {
        return;
    }
    struct pollfd request;
    request.fd = m_socket.get();
    request.events = events;
    request.revents = 0;
    poll(&request, 1, static_cast<int>(std::min<unsigned long>(timeoutMs, INT_MAX)));
    CInterrupt::checkpoint();
}

bool CNetwork::openConnection(const char* ipAddress, unsigned int port, unsigned long timeoutMs) {
    if (!createSocket()) {
        return false;
    }
    struct sockaddr_in address;
    memset(&address, 0, sizeof(address));
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port & 0xFFFF));
    address.sin_addr.s_addr = inet_addr(ipAddress);

    m_state = STATE_CONNECTING;
    CTimer timer;
    timer.startTimeoutTimer(timeoutMs);
    while (timer.isRunning()) {
        if (connect(m_socket.get(), reinterpret_cast<struct sockaddr*>(&address),
                    sizeof(address)) == 0 ||
            errno == EISCONN) {
            m_state = STATE_CONNECTED;
            return true;
        }
        if (errno == EALREADY || isTransient(errno)) {
            waitForSocket(POLLOUT, timer.getRemainingMillis());
            continue;
        }
        // A failed connect leaves the socket in an unspecified state.
        if (!createSocket()) {
            m_state = STATE_CLOSED;
            return false;
        }
        CTimer pause;
        pause.waitMillis(std::min(RETRY_PAUSE_MS, timer.getRemainingMillis()));
    }
    // The descriptor stays open in state connecting; closeConnection ends it.
    return false;
}

bool CNetwork::closeConnection() {
    if (m_state == STATE_CLOSED) {
        return false;
    }
    m_socket.close();
    m_state = STATE_CLOSED;
    return true;
}

// The clock is read only once a call would block: most replies are
// already there and most sends go out at once, and every clock read costs.
int CNetwork::receiveBytes(char* buffer, int length, unsigned long timeoutMs) {
    if (m_state != STATE_CONNECTED || length < 0 || timeoutMs == 0) {
        return -1;
    }
    CTimer timer;
    bool timing = false;
    for (;;) {
        ssize_t count = read(m_socket.get(), buffer, static_cast<size_t>(length));
        if (count != -1) {
            m_peerClosed = m_peerClosed || (count == 0 && length > 0);
            return static_cast<int>(count);
        }
        if (!isTransient(errno) || !waitLeft(&timer, &timing, timeoutMs, POLLIN)) {
            return -1;
        }
    }
}

int CNetwork::sendBytes(const char* buffer, int length, unsigned long timeoutMs, bool moreFollows) {
    if (length < 1 || timeoutMs == 0 || m_peerClosed) {
        return -1;
    }
    CTimer timer;
    bool timing = false;
    int written = 0;
    ssize_t last = 0;
    // MSG_NOSIGNAL: a peer that has gone must fail the send, not kill the tool.
    const int flags = MSG_NOSIGNAL | (moreFollows ? MSG_MORE : 0);
    while (written < length) {
        last = send(m_socket.get(), buffer + written, static_cast<size_t>(length - written), flags);
        if (last > 0) {
            written += static_cast<int>(last);
            continue;
        }
        if (last == -1 && !isTransient(errno)) {
            m_sendFailed = true;
            return -1;
        }
        if (!waitLeft(&timer, &timing, timeoutMs, POLLOUT)) {
            return -1;
        }
    }
    return static_cast<int>(last);
}

bool CNetwork::waitLeft(CTimer* timer, bool* timing, unsigned long timeoutMs, short events) {
    if (!*timing) {
        timer->startTimeoutTimer(timeoutMs);
        *timing = true;
    }
    unsigned long left = timer->getRemainingMillis();
    if (events == POLLIN && m_replyBounded) {
        left = std::min(left, m_replyDeadline.getRemainingMillis());
    }
    if (left == 0) {
        return false;
    }
    waitForSocket(events, left);
    return true;
}

int CNetwork::receiveAll(char* buffer, int length, unsigned long timeoutMs) {
    int received = 0;
    int last = 0;
    while (received < length) {
        last = receiveBytes(buffer + received, length - received, timeoutMs);
        if (last <= 0) {
            return -1;
        }
        received += last;
    }
    return last;
}

bool CNetwork::receiveAll(std::vector<char>* data, unsigned long length, unsigned long timeoutMs) {
    data->clear();
    while (data->size() < length) {
        size_t received = data->size();
        size_t chunk = std::min<unsigned long>(length - received, MAX_CHUNK);
        if (received + chunk > data->capacity()) {
            // Doubling, but never past the announced length.
            data->reserve(
                std::min<size_t>(std::max(received + chunk, 2 * data->capacity()), length));
        }
        data->resize(received + chunk);
        int count = receiveBytes(data->data() + received, static_cast<int>(chunk), timeoutMs);
        if (count <= 0) {
            data->resize(received);
            return false;
        }
        data->resize(received + static_cast<size_t>(count));
    }
    return true;
}

void CNetwork::discardWaiting() {
    if (m_state != STATE_CONNECTED) {
        return;
    }
    char discarded[4096];
    // Bounded, so a peer that never stops sending cannot hold the run here.
    for (int round = 0; round < 256; ++round) {
        ssize_t got = recv(m_socket.get(), discarded, sizeof(discarded), MSG_DONTWAIT);
        if (got <= 0) {
            m_peerClosed = m_peerClosed || got == 0;
            return;
        }
    }
}
