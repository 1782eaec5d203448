#include "sim/RawClient.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace simtest {

namespace {

int remainingMs(std::chrono::steady_clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

} // namespace

bool RawClient::connect(const std::string& address, int port) {
    close();
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1) {
        return false;
    }
    m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    timeval limit{1, 0};
    ::setsockopt(m_fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    if (::connect(m_fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) {
        close();
        return false;
    }
    return true;
}

bool RawClient::send(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t sent = ::send(m_fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) {
            continue;
        }
        if (sent <= 0) {
            return false;
        }
        done += static_cast<size_t>(sent);
    }
    return true;
}

bool RawClient::waitReadable(int timeoutMs) {
    pollfd watched{m_fd, POLLIN, 0};
    return ::poll(&watched, 1, timeoutMs) > 0;
}

std::string RawClient::receive(size_t count, int timeoutMs) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    std::string received;
    while (received.size() < count && waitReadable(remainingMs(deadline))) {
        char buffer[65536];
        size_t wanted = std::min(sizeof buffer, count - received.size());
        ssize_t got = ::recv(m_fd, buffer, wanted, 0);
        if (got <= 0) {
            break;
        }
        received.append(buffer, static_cast<size_t>(got));
    }
    return received;
}

bool RawClient::waitForClose(int timeoutMs, std::string* before) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (waitReadable(remainingMs(deadline))) {
        char buffer[4096];
        ssize_t got = ::recv(m_fd, buffer, sizeof buffer, 0);
        if (got <= 0) {
            return true;
        }
        before->append(buffer, static_cast<size_t>(got));
    }
    return false;
}

void RawClient::close() {
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

std::string fromHex(const std::string& text) {
    std::istringstream in(text);
    std::string bytes;
    for (std::string pair; in >> pair;) {
        bytes.push_back(static_cast<char>(std::strtoul(pair.c_str(), nullptr, 16)));
    }
    return bytes;
}

std::string toHex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (char c : bytes) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (!text.empty()) {
            text.push_back(' ');
        }
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}

} // namespace simtest
