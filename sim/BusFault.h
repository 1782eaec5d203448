#pragma once

#include <string>

namespace sim {

// One misbehaviour of the bus, given as KIND:FUNC:N[:ARG]: it hits the N-th
// request (1-based, over the simulator's life) with function code FUNC.
struct BusFault {
    enum class Kind {
        NoReply,
        BadSum,
        WrongSource,
        Count,
        Late,
        Oversize,
        Negative,
        Close,
        Damage,
        Twice,
    };

    Kind kind = Kind::NoReply;
    unsigned char function = 0;
    unsigned long count = 1; // the N of KIND:FUNC:N
    unsigned long arg = 0;   // requests left unanswered, milliseconds or byte count, by kind

    // Whether the fault hits the request that is the n-th of its function
    // (noreply:FUNC:N:K covers the K requests from the N-th on, twice every
    // request from the N-th on).
    bool hits(unsigned long n) const;

    static bool parse(const std::string& text, BusFault* fault, std::string* error);
};

} // namespace sim
