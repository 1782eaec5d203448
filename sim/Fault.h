#pragma once

#include "Mischief.h"
#include "Reply.h"

#include <string>

namespace sim {

// One misbehaviour given on the command line: --fault KIND:TYPE:N[:ARG] on
// the data port, --bus-fault KIND:FUNC:N[:ARG] on the bus. It hits the N-th
// request (1-based, over the simulator's life) of frame type TYPE or
// function code FUNC on its port.
struct Fault {
    enum class Port { Data, Bus };
    enum class Kind {
        NoReply,
        Late,
        Close,
        Truncate, // the data port only, like Error, Garbage and Trickle
        Error,
        Garbage,
        Trickle,
        BadSum, // the bus only, like the kinds below
        WrongSource,
        Count,
        Oversize,
        Negative,
        Damage,
        Twice,
    };

    Port port = Port::Data;
    Kind kind = Kind::NoReply;
    unsigned char which = 0; // the frame type or function code
    unsigned long count = 1; // the N
    unsigned long arg = 0;   // requests left unanswered, milliseconds, byte count or error id
    std::string name;        // KIND:TYPE:N or KIND:FUNC:N as given

    // Whether the fault hits the n-th request of its type or function
    // (noreply:FUNC:N:K covers the K requests from the N-th on, twice every
    // request from the N-th on).
    bool hits(unsigned long n) const;

    // What the fault does to the reply on its way out. What it does to the
    // content (error, garbage, badsum, wrongsrc, count, damage) is the
    // service's part, as only the service knows the reply's layout.
    Mischief mischief(LengthField field) const;

    // How events.log records it when it fires: "fault KIND:TYPE:N".
    std::string describe() const { return "fault " + name; }

    static bool parse(Port port, const std::string& text, Fault* fault, std::string* error);
};

} // namespace sim
