#pragma once

namespace sim {

// Turns SIGTERM and SIGINT into a readable descriptor (a self-pipe), so the
// poll loop ends cleanly instead of dying inside a system call. Also ignores
// SIGPIPE: a client that vanishes must not kill the simulator.
class StopSignal {
public:
    StopSignal();
    ~StopSignal();
    StopSignal(const StopSignal&) = delete;
    StopSignal& operator=(const StopSignal&) = delete;

    bool install();
    int fd() const { return m_pipe[0]; }

private:
    int m_pipe[2] = {-1, -1};
};

} // namespace sim
