#pragma once

#include "Mischief.h"
#include "Prng.h"
#include "Reply.h"

#include <string>
#include <vector>

namespace sim {

// Applies a mischief, drawn by the hostile peer or given by a fault, to the
// bytes of one reply and cuts them into what the server sends. Changes of
// content that need the reply's layout (another source, a spoilt checksum,
// an error in place of the answer) are the service's part; here the bytes
// go out as they are then. Every random choice comes from the plan's
// generator; a fault's mischief draws none.
class ReplyBender {
public:
    // prng may be null when no choice is left to draw.
    explicit ReplyBender(Prng* prng) : m_prng(prng) {}

    // The pieces to send, in order; none for Silence and Mute.
    std::vector<Reply> bend(const Mischief& mischief, std::string bytes, LengthField field);

private:
    size_t firstPart(const Mischief& mischief, size_t size);
    void corrupt(std::string* bytes);
    void bendLength(std::string* bytes, LengthField field);
    std::vector<Reply> trickle(const std::string& bytes, const Mischief& mischief);

    Prng* m_prng;
};

} // namespace sim
