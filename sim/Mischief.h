#pragma once

#include <string>

namespace sim {

// What the hostile peer (--hostile) does to one reply. Every request draws
// one; most draw None and are answered as they should be.
struct Mischief {
    enum class Kind {
        None,     // the reply as it should be, at once
        Late,     // the reply as it should be, late
        Silence,  // no reply
        Mute,     // no reply, and none to anything else on this connection
        Corrupt,  // a few bytes replaced by random ones
        Length,   // the length field random, huge, negative or a little off
        Truncate, // only a first part; the rest never comes
        Extra,    // random bytes behind the reply
        Source,   // from another module, or of another type or data id
        Garbage,  // random bytes of a random length instead of the reply
        Close,    // a first part, then the connection is closed
        Trickle,  // the reply in pieces with pauses between them
    };

    Kind kind = Kind::None;
    unsigned long delayMs = 0; // until the first byte, on the simulator's clock
    unsigned long spanMs = 0;  // Trickle: from the first piece to the last

    // The name in --help and in events.log.
    static const char* name(Kind kind);

    // How events.log records it: "hostile KIND +MS", MS being when the last
    // byte is due, counted from the request.
    std::string describe() const;
};

} // namespace sim
