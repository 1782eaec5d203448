#pragma once

#include "Fault.h"

#include <array>
#include <vector>

namespace sim {

// The faults given on the command line and how many requests of each frame
// type the simulator has seen so far, across connections.
class FaultPlan {
public:
    void add(const Fault& fault) { m_faults.push_back(fault); }

    // Counts one more request of this type; returns the fault meant for it
    // (the first one given when several match) or nullptr.
    const Fault* countRequest(unsigned char type);

private:
    std::vector<Fault> m_faults;
    std::array<unsigned long, 256> m_counts{};
};

} // namespace sim
