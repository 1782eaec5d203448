#include "Mischief.h"

namespace sim {

const char* Mischief::name(Kind kind) {
    switch (kind) {
    case Kind::None:
        return "none";
    case Kind::Late:
        return "late";
    case Kind::Silence:
        return "silence";
    case Kind::Mute:
        return "mute";
    case Kind::Corrupt:
        return "corrupt";
    case Kind::Length:
        return "length";
    case Kind::Truncate:
        return "truncate";
    case Kind::Extra:
        return "extra";
    case Kind::Source:
        return "source";
    case Kind::Garbage:
        return "garbage";
    case Kind::Close:
        return "close";
    case Kind::Trickle:
        return "trickle";
    }
    return "?";
}

std::string Mischief::describe() const {
    return std::string("hostile ") + name(kind) + " +" + std::to_string(delayMs + spanMs);
}

} // namespace sim
