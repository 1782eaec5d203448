#include "FrameReader.h"

namespace sim {

void FrameReader::append(const char* bytes, size_t length) {
    m_buffer.append(bytes, length);
}

FrameReader::Result FrameReader::next(Frame* frame) {
    if (buffered() < Frame::kShortHeader) {
        return Result::NeedMore;
    }
    unsigned char type = static_cast<unsigned char>(m_buffer[m_start + 1]);
    size_t size = Frame::kShortHeader;
    if (!Frame::isHeaderOnly(type)) {
        if (buffered() < Frame::kLongHeader) {
            return Result::NeedMore;
        }
        uint32_t length = Frame::readLength(m_buffer, m_start + 3);
        if (length > m_maxDataLength) {
            m_refusedLength = length;
            return Result::TooLong;
        }
        size = Frame::kLongHeader + length;
    }
    if (buffered() < size) {
        return Result::NeedMore;
    }
    frame->type = type;
    frame->dataId = static_cast<unsigned char>(m_buffer[m_start + 2]);
    frame->wire.assign(m_buffer, m_start, size);
    frame->data = frame->wire.substr(Frame::headerSize(type));
    consume(size);
    return Result::Complete;
}

void FrameReader::clear() {
    m_buffer.clear();
    m_start = 0;
    m_refusedLength = 0;
}

void FrameReader::consume(size_t length) {
    m_start += length;
    // Compact only when the dead prefix dominates, so large frames are not copied per read.
    if (m_start == m_buffer.size()) {
        clear();
    } else if (m_start > m_buffer.size() / 2) {
        m_buffer.erase(0, m_start);
        m_start = 0;
    }
}

} // namespace sim
