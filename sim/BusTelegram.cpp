#include "BusTelegram.h"

namespace sim {

namespace {
const unsigned char kStx = 0x02;
const unsigned char kEtx = 0x03;
const unsigned char kDle = 0x10;

bool needsEscape(unsigned char byte) {
    return byte == kEtx || byte == kDle;
}
} // namespace

std::string BusTelegram::encode() const {
    std::string body;
    body.push_back(static_cast<char>(destination));
    body.push_back(static_cast<char>(function));
    body.push_back(static_cast<char>(source));
    body += info;

    std::string wire(1, static_cast<char>(kStx));
    unsigned char sum = 0;
    auto put = [&wire, &sum](unsigned char byte) {
        wire.push_back(static_cast<char>(byte));
        sum = static_cast<unsigned char>(sum + byte);
    };
    for (char c : body) {
        unsigned char byte = static_cast<unsigned char>(c);
        if (needsEscape(byte)) {
            put(kDle);
        }
        put(byte);
    }
    unsigned char checksum = static_cast<unsigned char>(-sum);
    if (needsEscape(checksum)) {
        put(kDle); // the filler
        checksum = static_cast<unsigned char>(-sum);
    }
    wire.push_back(static_cast<char>(checksum));
    wire.push_back(static_cast<char>(kEtx));
    return wire;
}

BusTelegram::Decoded BusTelegram::decode(const std::string& bytes, BusTelegram* telegram) {
    if (bytes.size() < 2 || static_cast<unsigned char>(bytes[0]) != kStx) {
        return Decoded::Malformed;
    }
    // The closing ETX is the first 0x03 that no DLE escapes. A DLE before
    // the checksum (the filler) swallows the checksum here, which is fine:
    // the checksum is never 0x03.
    size_t etx = 0;
    for (size_t i = 1; i < bytes.size(); ++i) {
        unsigned char byte = static_cast<unsigned char>(bytes[i]);
        if (byte == kDle) {
            ++i;
        } else if (byte == kEtx) {
            etx = i;
            break;
        }
    }
    if (etx == 0 || etx + 1 != bytes.size()) {
        return Decoded::Malformed;
    }
    unsigned char sum = 0;
    for (size_t i = 1; i < etx; ++i) {
        sum = static_cast<unsigned char>(sum + static_cast<unsigned char>(bytes[i]));
    }
    if (sum != 0x00 && sum != 0xF3) {
        return Decoded::BadChecksum;
    }
    // Unstuff everything between STX and the checksum; a DLE without a
    // byte of its own behind it is the filler.
    std::string body;
    const size_t checksumAt = etx - 1;
    for (size_t i = 1; i < checksumAt; ++i) {
        unsigned char byte = static_cast<unsigned char>(bytes[i]);
        if (byte != kDle) {
            body.push_back(static_cast<char>(byte));
        } else if (i + 1 == checksumAt) {
            break;
        } else if (needsEscape(static_cast<unsigned char>(bytes[i + 1]))) {
            body.push_back(bytes[++i]);
        } else {
            return Decoded::Malformed;
        }
    }
    if (body.size() < 3) {
        return Decoded::Malformed;
    }
    telegram->destination = static_cast<unsigned char>(body[0]);
    telegram->function = static_cast<unsigned char>(body[1]);
    telegram->source = static_cast<unsigned char>(body[2]);
    telegram->info = body.substr(3);
    return Decoded::Ok;
}

} // namespace sim
