#pragma once

#include <string>

namespace simtest {

// A bare TCP client for talking to the simulator byte by byte.
class RawClient {
public:
    RawClient() = default;
    ~RawClient() { close(); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    // False when the connection is refused or not made within 1 s.
    bool connect(const std::string& address, int port = 11574);
    bool send(const std::string& bytes);

    // Collects up to `count` bytes within timeoutMs; gives what arrived,
    // which is shorter when the peer sent less or closed.
    std::string receive(size_t count, int timeoutMs);

    // True when the peer closes the connection within timeoutMs. Bytes that
    // arrive before the close are appended to *before.
    bool waitForClose(int timeoutMs, std::string* before);

    void close();

private:
    // Waits for input; false on time-out.
    bool waitReadable(int timeoutMs);

    int m_fd = -1;
};

// "01 07 00" <-> the three bytes, in the notation of frames.log.
std::string fromHex(const std::string& text);
std::string toHex(const std::string& bytes);

} // namespace simtest
