#include "Server.h"

#include "Clock.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {

Server::~Server() {
    for (Listener& listener : m_listeners) {
        listener.connection.reset();
        ::close(listener.fd);
    }
}

bool Server::listen(const std::string& address, Service* service, std::string* error) {
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(service->port());
    if (inet_pton(AF_INET, address.c_str(), &where.sin_addr) != 1) {
        *error = "bad address " + address;
        return false;
    }
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        *error = std::string("socket: ") + std::strerror(errno);
        return false;
    }
    int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0 ||
        ::listen(fd, 8) != 0) {
        *error = "cannot listen on " + address + ":" + std::to_string(service->port()) + ": " +
                 std::strerror(errno);
        ::close(fd);
        return false;
    }
    m_listeners.push_back(Listener{fd, service, nullptr});
    return true;
}

int Server::pollTimeoutMs(int64_t nowMs) const {
    int64_t wakeMs = m_deadlineMs;
    for (const Listener& listener : m_listeners) {
        if (listener.connection && listener.connection->nextDueMs() >= 0) {
            wakeMs = std::min(wakeMs, listener.connection->nextDueMs());
        }
    }
    return static_cast<int>(std::max<int64_t>(0, wakeMs - nowMs));
}

Server::End Server::run() {
    End end = serve();
    for (Listener& listener : m_listeners) {
        if (listener.connection) {
            closeClient(&listener);
        }
    }
    return end;
}

Server::End Server::serve() {
    for (;;) {
        int64_t nowMs = Clock::nowMs();
        if (nowMs >= m_deadlineMs) {
            return End::LifetimeOver;
        }
        // Slot 0 is the stop descriptor, slot i+1 belongs to listener i: its
        // client while one is connected, else the listening socket.
        std::vector<pollfd> watched;
        watched.push_back(pollfd{m_stopFd, POLLIN, 0});
        for (const Listener& listener : m_listeners) {
            if (listener.connection) {
                short events = POLLIN;
                if (listener.connection->hasDueReply(nowMs)) {
                    events |= POLLOUT;
                }
                watched.push_back(pollfd{listener.connection->fd(), events, 0});
            } else {
                watched.push_back(pollfd{listener.fd, POLLIN, 0});
            }
        }
        int ready = ::poll(watched.data(), watched.size(), pollTimeoutMs(nowMs));
        if (ready < 0 && errno != EINTR) {
            std::perror("tursa-sim: poll");
            return End::Failed;
        }
        if (watched[0].revents != 0) {
            return End::Stopped;
        }
        for (size_t i = 0; i < m_listeners.size(); ++i) {
            Listener& listener = m_listeners[i];
            if (listener.connection) {
                serveClient(&listener, ready > 0 ? watched[i + 1].revents : static_cast<short>(0));
            } else if (ready > 0 && watched[i + 1].revents != 0) {
                acceptClient(&listener);
            }
        }
    }
}

void Server::acceptClient(Listener* listener) {
    int fd = ::accept4(listener->fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        return; // the client may have given up already; poll tells us about the next one
    }
    // Each reply goes out when it is due, as a gateway sends it, not held
    // back until the client acknowledges the one before.
    const int on = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    m_state->logEvent(listener->service->port(), "open");
    listener->service->connectionOpened();
    listener->connection.reset(new Connection(fd, listener->service));
}

void Server::serveClient(Listener* listener, short events) {
    Connection& connection = *listener->connection;
    bool open = true;
    if (events & (POLLIN | POLLHUP | POLLERR)) {
        open = connection.readAvailable(Clock::nowMs());
    }
    if (open) {
        open = connection.sendDue(Clock::nowMs());
    }
    if (!open) {
        closeClient(listener);
    }
}

void Server::closeClient(Listener* listener) {
    listener->connection.reset();
    listener->service->connectionClosed();
    m_state->logEvent(listener->service->port(), "close");
}

} // namespace sim
