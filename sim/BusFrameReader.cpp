#include "BusFrameReader.h"

namespace sim {

BusFrameReader::Result BusFrameReader::next(BusFrame* frame) {
    if (buffered() == 0) {
        return Result::NeedMore;
    }
    if (at(0) != BusFrame::kStart) {
        return Result::BadStart;
    }
    if (buffered() < BusFrame::kHeaderSize) {
        return Result::NeedMore;
    }
    unsigned length = at(2) | (static_cast<unsigned>(at(3)) << 8);
    if (length > BusFrame::kMaxDataLength) {
        m_refusedLength = length;
        return Result::TooLong;
    }
    size_t size = BusFrame::kHeaderSize + length;
    if (buffered() < size) {
        return Result::NeedMore;
    }
    frame->wire.assign(m_buffer, m_start, size);
    frame->data = frame->wire.substr(BusFrame::kHeaderSize);
    consume(size);
    return Result::Complete;
}

void BusFrameReader::clear() {
    m_buffer.clear();
    m_start = 0;
    m_refusedLength = 0;
}

void BusFrameReader::consume(size_t length) {
    m_start += length;
    if (m_start == m_buffer.size()) {
        m_buffer.clear();
        m_start = 0;
    } else if (m_start > m_buffer.size() / 2) {
        m_buffer.erase(0, m_start);
        m_start = 0;
    }
}

} // namespace sim
