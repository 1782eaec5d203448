#pragma once

#include <string>

namespace sim {

// One telegram on the device bus behind the gateway: destination, function
// code, source and info bytes. On the wire it is STX, the byte-stuffed body
// (every 0x03 or 0x10 gets a DLE 0x10 in front), maybe a filler 0x10, the
// checksum and ETX.
struct BusTelegram {
    static const unsigned char kToolAddress = 0xF0;
    static const unsigned char kFirstModuleAddress = 0xC0; // module n answers from 0xC0 + n
    static const unsigned char kGroupAddress = 0xCF;       // every module at once
    static const unsigned char kBroadcastAddress = 0xFF;   // every device

    enum class Decoded { Ok, BadChecksum, Malformed };

    unsigned char destination = 0;
    unsigned char function = 0;
    unsigned char source = 0;
    std::string info;

    // The transmitted form. The checksum makes the byte sum after STX zero;
    // it is never escaped, so when it would come out as 0x03 or 0x10 a
    // filler 0x10 goes in front of it and it is computed again.
    std::string encode() const;

    // Reads exactly one transmitted telegram (nothing may follow its ETX).
    // A sum of 0x00 or 0xF3 is accepted, as the device does.
    static Decoded decode(const std::string& bytes, BusTelegram* telegram);
};

} // namespace sim
