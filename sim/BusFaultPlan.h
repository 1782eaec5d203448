#pragma once

#include "BusFault.h"

#include <array>
#include <vector>

namespace sim {

// The bus faults given on the command line and how many requests of each
// function code the bus has seen so far, across connections. Its counters
// are its own: the data port's faults count frame types, not functions.
class BusFaultPlan {
public:
    void add(const BusFault& fault) { m_faults.push_back(fault); }

    // Counts one more request of this function; returns the fault meant for
    // it (the first one given when several match) or nullptr.
    const BusFault* countRequest(unsigned char function);

private:
    std::vector<BusFault> m_faults;
    std::array<unsigned long, 256> m_counts{};
};

} // namespace sim
