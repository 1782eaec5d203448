#pragma once

#include "HostilePlan.h"
#include "Options.h"

#include <memory>

namespace sim {

// The simulator as a whole: prepares the data sets, the bus modules and the
// state directory, opens the listeners and runs until stopped or out of
// lifetime.
class Simulator {
public:
    explicit Simulator(Options options) : m_options(std::move(options)) {}

    // Returns the process exit status: 0 after a stop signal or the end of
    // the lifetime, 1 when the simulator cannot start.
    int run();

private:
    bool prepareDataSets(DataSets* dataSets);
    // The hostile peer's plan for one port, or null when it plays none.
    std::unique_ptr<HostilePlan> hostilePlan(uint16_t port) const;

    Options m_options;
};

} // namespace sim
