#pragma once

#include "Fault.h"

#include <array>
#include <vector>

namespace sim {

// The faults given on the command line and how many requests of each frame
// type (data port) and each function code (bus) the simulator has seen so
// far, across connections.
class FaultPlan {
public:
    explicit FaultPlan(std::vector<Fault> faults) : m_faults(std::move(faults)) {}

    // Counts one more request of this type or function on the port; returns
    // the fault meant for it (the first one given when several match) or nullptr.
    const Fault* countRequest(Fault::Port port, unsigned char which);

private:
    std::vector<Fault> m_faults;
    std::array<std::array<unsigned long, 256>, 2> m_counts{}; // by port, then type or function
};

} // namespace sim
