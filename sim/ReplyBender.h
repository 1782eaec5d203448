#pragma once

#include "Mischief.h"
#include "Prng.h"
#include "Reply.h"

#include <string>
#include <vector>

namespace sim {

// Where a reply keeps the length of its data: offset and size in bytes,
// little-endian, the top bit of the last byte being the sign where the
// client reads one. Size 0: the reply has no length field.
struct LengthField {
    size_t offset = 0;
    size_t size = 0;
};

// Applies a mischief to the bytes of one reply and cuts them into what the
// server sends. Source is the service's part (only it knows who else could
// have answered); here it leaves the bytes as they are. Every random choice
// comes from the plan's generator.
class ReplyBender {
public:
    explicit ReplyBender(Prng* prng) : m_prng(prng) {}

    // The pieces to send, in order; none for Silence and Mute.
    std::vector<Reply> bend(const Mischief& mischief, std::string bytes, LengthField field);

private:
    void corrupt(std::string* bytes);
    void bendLength(std::string* bytes, LengthField field);
    std::vector<Reply> trickle(const std::string& bytes, const Mischief& mischief);

    Prng* m_prng;
};

} // namespace sim
