#include "FaultPlan.h"

namespace sim {

const Fault* FaultPlan::countRequest(Fault::Port port, unsigned char which) {
    const unsigned long count = ++m_counts[port == Fault::Port::Bus][which];
    for (const Fault& fault : m_faults) {
        if (fault.port == port && fault.which == which && fault.hits(count)) {
            return &fault;
        }
    }
    return nullptr;
}

} // namespace sim
