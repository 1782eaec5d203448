#include "bus/MelkoFrame.h"

#include <algorithm>
#include <cstring>

namespace {

const char FRAME_START = 0x01;

} // namespace

CMelkoFrame::CMelkoFrame() : m_type(0), m_dataLength(0), m_data() {}

unsigned long CMelkoFrame::getFrameSize() const {
    return static_cast<unsigned long>(std::max(m_dataLength, 0L)) + HEADER_SIZE;
}

bool CMelkoFrame::getBuffer(char* buffer) const {
    if (buffer == nullptr) {
        return false;
    }
    unsigned long length = getFrameSize() - HEADER_SIZE;
    buffer[0] = FRAME_START;
    buffer[1] = m_type;
    buffer[2] = static_cast<char>(length & 0xFF);
    buffer[3] = static_cast<char>((length >> 8) & 0xFF);
    memcpy(buffer + HEADER_SIZE, m_data, std::min(length, MAX_DATA_LENGTH));
    return true;
}

bool CMelkoFrame::setHeader(const char* header) {
    m_type = header[1];
    // The high byte is signed on the wire: 0x80 and above give a negative length.
    const unsigned char top = static_cast<unsigned char>(header[3]);
    const long high = top < 0x80 ? static_cast<long>(top) : static_cast<long>(top) - 256;
    m_dataLength = static_cast<unsigned char>(header[2]) + high * 256;
    return true;
}

void CMelkoFrame::getData(char* dest, unsigned long* length) const {
    unsigned long count =
        std::min(static_cast<unsigned long>(std::max(m_dataLength, 0L)), MAX_DATA_LENGTH);
    *length = count;
    memcpy(dest, m_data, count);
}

bool CMelkoFrame::setData(const char* data, unsigned long length) {
    if (length > MAX_DATA_LENGTH) {
        return false;
    }
    if (length > 0) {
        memcpy(m_data, data, length);
    }
    m_dataLength = static_cast<long>(length);
    return true;
}
