#pragma once

#include <cstddef>
#include <optional>
#include <string>

namespace sim {

// What happens to one reply on its way out. The hostile peer (--hostile)
// draws one for every request, most of them None; a --fault or --bus-fault
// gives one to the request it hits.
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
        // Given only by a fault:
        Negative, // the length field's top bit set
        Oversize, // zero bytes behind the data up to 600, and the length says so
        Twice,    // the reply, and the same again spanMs after it
    };

    Kind kind = Kind::None;
    unsigned long delayMs = 0; // until the first byte, on the simulator's clock
    unsigned long spanMs = 0;  // Trickle: from the first piece to the last
    // What a fault fixes and the hostile peer draws: the bytes a Truncate
    // or Close sends, and a Trickle of single bytes delayMs apart.
    std::optional<size_t> keep;
    bool byteByByte = false;
    bool mutes = false; // nothing more is answered on the connection afterwards

    // One of the kind alone, due at once.
    static Mischief of(Kind kind) {
        Mischief mischief;
        mischief.kind = kind;
        return mischief;
    }

    // The name in --help and in events.log.
    static const char* name(Kind kind);

    // How events.log records a hostile one: "hostile KIND +MS", MS being
    // when the last byte is due, counted from the request.
    std::string describe() const;
};

} // namespace sim
