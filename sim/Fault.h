#pragma once

#include <string>

namespace sim {

// One misbehaviour of the controller, given as KIND:TYPE:N[:ARG]: it hits
// the N-th request (1-based, over the simulator's life) of frame type TYPE.
struct Fault {
    enum class Kind { NoReply, Late, Truncate, Error, Close, Garbage, Trickle };

    Kind kind = Kind::NoReply;
    unsigned char type = 0;
    unsigned long count = 1; // the N of KIND:TYPE:N
    unsigned long arg = 0;   // milliseconds, byte count or error id, by kind

    static bool parse(const std::string& text, Fault* fault, std::string* error);
};

} // namespace sim
