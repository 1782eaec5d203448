#include "Frame.h"

namespace sim {

namespace {
const char kSoh = 1;
const unsigned char kResponseType = 2;
} // namespace

bool Frame::isHeaderOnly(unsigned char type) {
    switch (type) {
    case 0:
    case 3:
    case 5:
    case 6:
    case 7:
    case 8:
    case 10:
        return true;
    default:
        return false;
    }
}

size_t Frame::headerSize(unsigned char type) {
    return isHeaderOnly(type) ? kShortHeader : kLongHeader;
}

std::string Frame::encode(unsigned char type, unsigned char dataId) {
    std::string wire;
    wire.push_back(kSoh);
    wire.push_back(static_cast<char>(type));
    wire.push_back(static_cast<char>(dataId));
    if (!isHeaderOnly(type)) {
        wire.append(4, '\0');
    }
    return wire;
}

std::string Frame::encode(unsigned char type, unsigned char dataId, const std::string& data) {
    std::string wire = encode(type, dataId);
    if (isHeaderOnly(type)) {
        return wire;
    }
    uint32_t length = static_cast<uint32_t>(data.size());
    for (int i = 0; i < 4; ++i) {
        wire[3 + i] = static_cast<char>((length >> (8 * i)) & 0xFF);
    }
    return wire + data;
}

std::string Frame::errorResponse(unsigned char errorId) {
    return encode(kResponseType, errorId);
}

uint32_t Frame::readLength(const std::string& bytes, size_t offset) {
    uint32_t length = 0;
    for (int i = 3; i >= 0; --i) {
        length = (length << 8) | static_cast<unsigned char>(bytes[offset + i]);
    }
    return length;
}

} // namespace sim
