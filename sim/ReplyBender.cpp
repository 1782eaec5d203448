#include "ReplyBender.h"

#include <algorithm>
#include <cstdint>
#include <set>

namespace sim {

namespace {

using Kind = Mischief::Kind;

const size_t kMaxCorrupted = 3;
const size_t kMaxExtra = 64;
const uint64_t kMaxOff = 16; // how far a length may be a little off
const size_t kMaxPieces = 8;
const size_t kOversizeLength = 600;

uint64_t readField(const std::string& bytes, LengthField field) {
    uint64_t value = 0;
    for (size_t i = field.size; i-- > 0;) {
        value = value << 8 | static_cast<unsigned char>(bytes[field.offset + i]);
    }
    return value;
}

void writeField(std::string* bytes, LengthField field, uint64_t value) {
    for (size_t i = 0; i < field.size; ++i) {
        (*bytes)[field.offset + i] = static_cast<char>(value >> (8 * i));
    }
}

uint64_t topBit(LengthField field) {
    return 1ULL << (8 * field.size - 1);
}

// Zero bytes behind the data up to kOversizeLength, announced in the field.
void oversize(std::string* bytes, LengthField field) {
    const size_t start = field.dataStart();
    bytes->resize(std::max(bytes->size(), start + kOversizeLength), '\0');
    writeField(bytes, field, bytes->size() - start);
}

} // namespace

std::vector<Reply> ReplyBender::bend(const Mischief& mischief, std::string bytes,
                                     LengthField field) {
    Reply reply;
    reply.delayMs = mischief.delayMs;
    switch (mischief.kind) {
    case Kind::None:
    case Kind::Late:
    case Kind::Source:
        break;
    case Kind::Silence:
    case Kind::Mute:
        return {};
    case Kind::Corrupt:
        corrupt(&bytes);
        break;
    case Kind::Length:
        bendLength(&bytes, field);
        break;
    case Kind::Truncate:
        bytes.resize(firstPart(mischief, bytes.size()));
        break;
    case Kind::Extra:
        bytes += m_prng->bytes(m_prng->between(1, kMaxExtra));
        break;
    case Kind::Garbage:
        bytes = m_prng->bytes(m_prng->between(1, 2 * bytes.size() + 16));
        break;
    case Kind::Close:
        bytes.resize(firstPart(mischief, bytes.size()));
        reply.closeAfterwards = true;
        break;
    case Kind::Trickle:
        return trickle(bytes, mischief);
    case Kind::Negative:
        writeField(&bytes, field, readField(bytes, field) | topBit(field));
        break;
    case Kind::Oversize:
        oversize(&bytes, field);
        break;
    case Kind::Twice:
        return {Reply{bytes, mischief.delayMs, false},
                Reply{bytes, mischief.delayMs + mischief.spanMs, false}};
    }
    reply.bytes = std::move(bytes);
    return {reply};
}

// What a Truncate or Close sends: the bytes a fault gives, else a drawn
// first part (a Truncate at least one byte, a Close maybe none).
size_t ReplyBender::firstPart(const Mischief& mischief, size_t size) {
    if (mischief.keep) {
        return std::min(size, *mischief.keep);
    }
    if (mischief.kind == Kind::Close) {
        return m_prng->below(size);
    }
    return size > 1 ? m_prng->between(1, size - 1) : size;
}

void ReplyBender::corrupt(std::string* bytes) {
    std::set<size_t> positions;
    const size_t count = std::min(bytes->size(), static_cast<size_t>(m_prng->between(1, kMaxCorrupted)));
    while (positions.size() < count) {
        positions.insert(m_prng->below(bytes->size()));
    }
    for (size_t position : positions) {
        char& byte = (*bytes)[position];
        byte = static_cast<char>(byte ^ m_prng->between(1, 255)); // never the same byte again
    }
}

// Random, all ones, negative (top bit set), or a little more or less than
// the data that follows.
void ReplyBender::bendLength(std::string* bytes, LengthField field) {
    if (field.size == 0 || bytes->size() < field.dataStart()) {
        corrupt(bytes);
        return;
    }
    const uint64_t mask = field.size >= 8 ? ~0ULL : (1ULL << (8 * field.size)) - 1;
    const uint64_t actual = readField(*bytes, field);
    uint64_t value = 0;
    switch (m_prng->below(5)) {
    case 0:
        value = m_prng->next();
        break;
    case 1:
        value = mask;
        break;
    case 2:
        value = m_prng->next() | topBit(field);
        break;
    case 3:
        value = actual + m_prng->between(1, kMaxOff);
        break;
    default:
        value = actual > 0 ? actual - m_prng->between(1, std::min(actual, kMaxOff)) : actual + 1;
        break;
    }
    writeField(bytes, field, value & mask);
}

// Pieces cut at random places (two to eight), the first one after the
// mischief's delay and the others spread over its span; or, from a fault,
// one byte at a time, each delayMs after the one before.
std::vector<Reply> ReplyBender::trickle(const std::string& bytes, const Mischief& mischief) {
    std::set<size_t> cuts;
    unsigned long spanMs = mischief.spanMs;
    if (mischief.byteByByte) {
        for (size_t cut = 1; cut < bytes.size(); ++cut) {
            cuts.insert(cut);
        }
        spanMs = mischief.delayMs * (bytes.size() - 1);
    } else {
        const size_t pieces = std::min<size_t>(m_prng->between(2, kMaxPieces), bytes.size());
        while (cuts.size() + 1 < pieces) {
            cuts.insert(m_prng->between(1, bytes.size() - 1));
        }
    }
    cuts.insert(bytes.size());
    const size_t pieces = cuts.size();
    std::vector<Reply> replies;
    size_t start = 0;
    for (size_t cut : cuts) {
        Reply piece;
        piece.bytes = bytes.substr(start, cut - start);
        piece.delayMs =
            mischief.delayMs + (pieces > 1 ? spanMs * replies.size() / (pieces - 1) : 0);
        replies.push_back(piece);
        start = cut;
    }
    return replies;
}

} // namespace sim
