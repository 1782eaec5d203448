#include "FaultPlan.h"

namespace sim {

const Fault* FaultPlan::countRequest(unsigned char type) {
    unsigned long count = ++m_counts[type];
    for (const Fault& fault : m_faults) {
        if (fault.type == type && fault.count == count) {
            return &fault;
        }
    }
    return nullptr;
}

} // namespace sim
