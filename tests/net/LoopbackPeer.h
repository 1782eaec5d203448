#pragma once

// A scripted TCP peer on 127.0.0.1 (ephemeral port) for transport tests; the
// script runs on the accepted connection in its own thread.

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <functional>
#include <initializer_list>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <thread>
#include <unistd.h>

namespace testpeer {

inline std::string bytes(std::initializer_list<int> values) {
    std::string result;
    for (int value : values) {
        result.push_back(static_cast<char>(value));
    }
    return result;
}

// What arrives until count bytes came, the other side closed, or timeoutMs
// passed without data.
inline std::string readExactly(int fd, size_t count, int timeoutMs = 3000) {
    std::string result;
    char buffer[65536];
    struct pollfd request = {fd, POLLIN, 0};
    while (result.size() < count && poll(&request, 1, timeoutMs) > 0) {
        ssize_t got = read(fd, buffer, std::min(count - result.size(), sizeof(buffer)));
        if (got <= 0) {
            break;
        }
        result.append(buffer, static_cast<size_t>(got));
    }
    return result;
}

inline void writeAll(int fd, const std::string& data) {
    for (size_t done = 0; done < data.size();) {
        ssize_t count = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
        if (count <= 0) {
            return;
        }
        done += static_cast<size_t>(count);
    }
}

inline void pauseMillis(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

inline long wallMillis() {
    struct timeval now;
    gettimeofday(&now, nullptr);
    return now.tv_sec * 1000L + now.tv_usec / 1000;
}

inline long cpuMillis() {
    struct rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000L +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

// A socket bound to a free loopback port; connects are refused until listen().
inline int boundSocket(unsigned int* port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof(address));
    socklen_t size = sizeof(address);
    getsockname(fd, reinterpret_cast<struct sockaddr*>(&address), &size);
    *port = ntohs(address.sin_port);
    return fd;
}

class LoopbackPeer {
public:
    LoopbackPeer() : m_listener(boundSocket(&m_port)) { listen(m_listener, 4); }
    ~LoopbackPeer() {
        join();
        close(m_listener);
    }

    unsigned int port() const { return m_port; }

    // Accepts one connection within 5 s, runs script on it, then closes it.
    void start(std::function<void(int)> script) {
        m_thread = std::thread([this, script]() {
            struct pollfd request = {m_listener, POLLIN, 0};
            int fd = poll(&request, 1, 5000) > 0 ? accept(m_listener, nullptr, nullptr) : -1;
            if (fd >= 0) {
                script(fd);
                close(fd);
            }
        });
    }

    void join() {
        if (m_thread.joinable()) {
            m_thread.join();
        }
    }

private:
    unsigned int m_port;
    int m_listener;
    std::thread m_thread;
};

} // namespace testpeer
