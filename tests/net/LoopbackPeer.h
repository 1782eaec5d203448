#pragma once

// A scripted TCP peer on 127.0.0.1 (ephemeral port) for transport tests; the
// script runs on the accepted connection in its own thread.

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <ctime>
#include <functional>
#include <initializer_list>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace testpeer {

inline std::string bytes(std::initializer_list<int> values) {
    return std::string(values.begin(), values.end());
}

// What arrives until count bytes came, the other side closed, or timeoutMs
// passed without data.
inline std::string readExactly(int fd, size_t count, int timeoutMs = 3000) {
    std::string result;
    char buffer[4096];
    struct pollfd request = {fd, POLLIN, 0};
    ssize_t got = 1;
    while (result.size() < count && got > 0 && poll(&request, 1, timeoutMs) > 0) {
        got = read(fd, buffer, std::min(count - result.size(), sizeof(buffer)));
        result.append(buffer, static_cast<size_t>(std::max<ssize_t>(got, 0)));
    }
    return result;
}

inline void writeAll(int fd, const std::string& data) {
    for (ssize_t done = 0, count = 1; count > 0 && done < ssize_t(data.size()); done += count) {
        count = send(fd, data.data() + done, data.size() - done, MSG_NOSIGNAL);
    }
}

inline void pauseMillis(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

inline long wallMillis() {
    auto now = std::chrono::steady_clock::now().time_since_epoch();
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

// CPU time of the whole process, all threads.
inline long cpuMillis() {
    return static_cast<long>(std::clock() * 1000L / CLOCKS_PER_SEC);
}

// A socket bound to a free loopback port; connects are refused until listen().
inline int boundSocket(unsigned int* port) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in address = {AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    bind(fd, reinterpret_cast<struct sockaddr*>(&address), sizeof(address));
    socklen_t size = sizeof(address);
    getsockname(fd, reinterpret_cast<struct sockaddr*>(&address), &size);
    *port = ntohs(address.sin_port);
    return fd;
}

// Accepts one connection within 5 s, runs the script on it, then closes it.
struct LoopbackPeer {
    unsigned int port = 0;
    int listener = boundSocket(&port);
    std::thread thread;

    LoopbackPeer() { listen(listener, 4); }
    ~LoopbackPeer() {
        join();
        close(listener);
    }
    void start(std::function<void(int)> script) {
        thread = std::thread([this, script]() {
            struct pollfd request = {listener, POLLIN, 0};
            int fd = poll(&request, 1, 5000) > 0 ? accept(listener, nullptr, nullptr) : -1;
            if (fd >= 0) {
                script(fd);
                close(fd);
            }
        });
    }
    void join() {
        if (thread.joinable()) {
            thread.join();
        }
    }
};

} // namespace testpeer
