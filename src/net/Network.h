#pragma once

#include "net/Socket.h"
#include "net/Timer.h"

#include <vector>

// One TCP client connection on a non-blocking socket. Every operation is
// bounded by a time-out in milliseconds and waits in poll(), never by
// spinning. Failures are reported by the results (false, -1); a signal that
// ends the run is thrown from any wait as its exit status (see
// CInterrupt::checkpoint).
class CNetwork {
public:
    // Connection states.
    static constexpr int STATE_CONNECTING = 0;
    static constexpr int STATE_CONNECTED = 1;
    static constexpr int STATE_CLOSED = 2;

    CNetwork();
    // Owns its socket; the controller and the bus connection are one
    // instance each.
    CNetwork(const CNetwork&) = delete;
    CNetwork& operator=(const CNetwork&) = delete;

    bool initialize();
    bool openConnection(const char* ipAddress, unsigned int port, unsigned long timeoutMs);
    bool closeConnection();
    int getState() const { return m_state; }
    // Whether the connection is lost: not open, ended by the peer, or a send
    // failed for good.
    bool isLost() const { return m_state != STATE_CONNECTED || m_peerClosed || m_sendFailed; }

    // At most length bytes from one successful read; 0 at end of stream;
    // -1 on time-out, when not connected or on a read error.
    int receiveBytes(char* buffer, int length, unsigned long timeoutMs);
    // Writes the whole buffer; -1 on failure (also once the peer has ended
    // the stream), else the count of the last send.
    // With moreFollows the kernel holds a short buffer back for the bytes
    // the next call sends, so a header and its data leave together.
    int sendBytes(const char* buffer, int length, unsigned long timeoutMs, bool moreFollows = false);

    // Collects exactly length bytes; each read has its own time-out, and end
    // of stream or an error fails the whole receipt. Returns -1 on failure,
    // otherwise the count of the last read (0 when length is 0).
    int receiveAll(char* buffer, int length, unsigned long timeoutMs);
    // The same into a vector that grows only as bytes arrive, so an announced
    // length alone never allocates, and never beyond length, so a large
    // block costs its size once. On failure the vector holds what came.
    bool receiveAll(std::vector<char>* data, unsigned long length, unsigned long timeoutMs);

    // Drops the bytes already waiting on the connection (a late or surplus
    // reply to an earlier request), so that the next request reads its own.
    void discardWaiting();

protected:
    // Bounds the whole reply that starts now: every later read ends by this
    // deadline too, so a peer that trickles its bytes, each within the
    // per-read time-out, cannot hold the run longer than limitMs.
    void boundReply(unsigned long limitMs);

    int m_state;
    // A second openConnection closes the descriptor of the first.
    CSocket m_socket;

private:
    bool createSocket();
    // Waits until the socket is ready for events or the deadline has passed.
    void waitForSocket(short events, unsigned long timeoutMs);
    // Starts the time-out on the first wait of a call; false once it is over.
    bool waitLeft(CTimer* timer, bool* timing, unsigned long timeoutMs, short events);

    CTimer m_replyDeadline;
    bool m_replyBounded;
    // Set when the peer ended the stream: every later send fails at once,
    // where the kernel would still take the bytes of the first one.
    bool m_peerClosed;
    bool m_sendFailed;
};
