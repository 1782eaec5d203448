#pragma once

#include "Connection.h"
#include "Service.h"
#include "StateDir.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace sim {

// The poll loop: one listening socket per service, at most one client per
// listening socket (the device serves its ports one connection at a time;
// a further client waits in the backlog until the current one is gone).
// Every accepted and ended connection goes into the event log.
class Server {
public:
    enum class End { Stopped, LifetimeOver, Failed };

    // stopFd becomes readable when the simulator is asked to end.
    Server(int stopFd, int64_t deadlineMs, StateDir* state)
        : m_stopFd(stopFd), m_deadlineMs(deadlineMs), m_state(state) {}
    ~Server();
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Listens for the service on its port (SO_REUSEADDR, so a restarted
    // simulator can take the address again at once).
    bool listen(const std::string& address, Service* service, std::string* error);

    // Serves until stopped or out of lifetime, then ends the connections
    // still open (their services see connectionClosed()).
    End run();

private:
    struct Listener {
        int fd;
        Service* service;
        std::unique_ptr<Connection> connection;
    };

    End serve();
    int pollTimeoutMs(int64_t nowMs) const;
    void acceptClient(Listener* listener);
    void serveClient(Listener* listener, short events);
    void closeClient(Listener* listener);

    int m_stopFd;
    int64_t m_deadlineMs;
    StateDir* m_state;
    std::vector<Listener> m_listeners;
};

} // namespace sim
