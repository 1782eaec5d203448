#include "BusFaultPlan.h"

namespace sim {

const BusFault* BusFaultPlan::countRequest(unsigned char function) {
    unsigned long count = ++m_counts[function];
    for (const BusFault& fault : m_faults) {
        if (fault.function == function && fault.hits(count)) {
            return &fault;
        }
    }
    return nullptr;
}

} // namespace sim
