#include "Mischief.h"

namespace sim {

const char* Mischief::name(Kind kind) {
    // In the order of Kind.
    static const char* const kNames[] = {
        "none",    "late",   "silence", "mute",  "corrupt",  "length",   "truncate", "extra",
        "source",  "garbage", "close",  "trickle", "negative", "oversize", "twice",
    };
    return kNames[static_cast<size_t>(kind)];
}

std::string Mischief::describe() const {
    return std::string("hostile ") + name(kind) + " +" + std::to_string(delayMs + spanMs);
}

} // namespace sim
