#include "store/Base64.h"

#include <array>
#include <cstddef>
#include <cstring>

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Marks a byte outside the alphabet; '=' is one of them when decoding.
constexpr unsigned char kSkip = 0xFF;
constexpr unsigned char kFirstDecodable = 0x2B; // '+'
constexpr unsigned char kLastDecodable = 0x7A;  // 'z'

// 6-bit values of the bytes '+' (0x2B) to 'z' (0x7A), derived from the
// alphabet so that the two tables cannot disagree.
using DecodeTable = std::array<unsigned char, kLastDecodable - kFirstDecodable + 1>;

constexpr DecodeTable makeDecodeTable() {
    DecodeTable table{};
    for (size_t i = 0; i < table.size(); ++i) {
        table[i] = kSkip;
    }
    for (unsigned char i = 0; i < 64; ++i) {
        table[static_cast<unsigned char>(kAlphabet[i]) - kFirstDecodable] = i;
    }
    return table;
}

constexpr DecodeTable kDecodeTable = makeDecodeTable();

unsigned char sextetOf(char byte) {
    unsigned char code = static_cast<unsigned char>(byte);
    if (code < kFirstDecodable || code > kLastDecodable) {
        return kSkip;
    }
    return kDecodeTable[code - kFirstDecodable];
}

} // namespace

// The line length is ignored: every value of the backup file must stay on
// one line.
void CBase64::encode(const char* input, char* output, unsigned int inputLength, unsigned int outputSize,
                     int /*lineLength*/) {
    if (outputSize > 0) {
        memset(output, 0, outputSize);
    }
    size_t stored = 0;
    for (size_t position = 0; position < inputLength && stored < outputSize; position += 3) {
        size_t valid = inputLength - position < 3 ? inputLength - position : 3;
        unsigned char group[3] = {0, 0, 0};
        memcpy(group, input + position, valid);
        unsigned char characters[4];
        encodeBlock(group, characters, static_cast<int>(valid));
        for (int i = 0; i < 4 && stored < outputSize; ++i) {
            output[stored++] = static_cast<char>(characters[i]);
        }
    }
}

void CBase64::decode(const char* input, char* output, unsigned int textLength,
                     unsigned int maxBytes) {
    unsigned char group[4];
    int filled = 0;
    unsigned int stored = 0;
    auto keep = [&](const unsigned char* bytes, int count) {
        for (int i = 0; i < count && stored < maxBytes; ++i) {
            output[stored++] = static_cast<char>(bytes[i]);
        }
    };
    for (size_t i = 0; i < textLength && stored < maxBytes; ++i) {
        unsigned char value = sextetOf(input[i]);
        if (value == kSkip) {
            continue;
        }
        group[filled++] = value;
        if (filled == 4) {
            unsigned char bytes[3];
            decodeBlock(group, bytes);
            keep(bytes, 3);
            filled = 0;
        }
    }
    // A partial group yields one byte fewer than it holds values; a lone
    // value carries too few bits for a byte.
    if (filled >= 2) {
        for (int i = filled; i < 4; ++i) {
            group[i] = 0;
        }
        unsigned char bytes[3];
        decodeBlock(group, bytes);
        keep(bytes, filled - 1);
    }
}

unsigned long CBase64::decodedSize(const char* input, unsigned long textLength) {
    unsigned long values = 0;
    for (unsigned long i = 0; i < textLength; ++i) {
        if (sextetOf(input[i]) != kSkip) {
            ++values;
        }
    }
    unsigned long tail = values % 4;
    return values / 4 * 3 + (tail >= 2 ? tail - 1 : 0);
}

bool CBase64::isValid(const char* input, unsigned long textLength) {
    if (textLength == 0 || textLength % 4 != 0) {
        return false;
    }
    unsigned long padding = 0;
    while (padding < 2 && input[textLength - 1 - padding] == '=') {
        ++padding;
    }
    for (unsigned long i = 0; i < textLength - padding; ++i) {
        if (sextetOf(input[i]) == kSkip) {
            return false;
        }
    }
    // The last value before the padding holds bits no byte is made of; the
    // encoder leaves them zero.
    const unsigned char unusedBits = padding == 2 ? 0x0F : padding == 1 ? 0x03 : 0x00;
    return (sextetOf(input[textLength - 1 - padding]) & unusedBits) == 0;
}

void CBase64::encodeBlock(unsigned char* in, unsigned char* out, int length) {
    out[0] = kAlphabet[in[0] >> 2];
    out[1] = kAlphabet[((in[0] & 0x03) << 4) | (in[1] >> 4)];
    out[2] = length > 1 ? kAlphabet[((in[1] & 0x0F) << 2) | (in[2] >> 6)] : '=';
    out[3] = length > 2 ? kAlphabet[in[2] & 0x3F] : '=';
}

void CBase64::decodeBlock(unsigned char* in, unsigned char* out) {
    out[0] = static_cast<unsigned char>((in[0] << 2) | (in[1] >> 4));
    out[1] = static_cast<unsigned char>(((in[1] & 0x0F) << 4) | (in[2] >> 2));
    out[2] = static_cast<unsigned char>(((in[2] & 0x03) << 6) | in[3]);
}
