#pragma once

#include "BusFrame.h"

#include <string>

namespace sim {

// Cuts the byte stream of a gateway connection into frames. A partial frame
// stays buffered until the rest arrives; a frame that does not start with
// 0x01 or announces more than 520 data bytes is refused before anything is
// allocated for it, since the stream cannot be trusted from there on.
class BusFrameReader {
public:
    enum class Result { Complete, NeedMore, BadStart, TooLong };

    void append(const char* bytes, size_t length) { m_buffer.append(bytes, length); }
    Result next(BusFrame* frame);
    void clear();

    // Length announced by the frame that next() refused as too long.
    unsigned refusedLength() const { return m_refusedLength; }

private:
    size_t buffered() const { return m_buffer.size() - m_start; }
    unsigned char at(size_t offset) const {
        return static_cast<unsigned char>(m_buffer[m_start + offset]);
    }
    void consume(size_t length);

    std::string m_buffer;
    size_t m_start = 0; // consumed bytes are dropped lazily: one read may hold many frames
    unsigned m_refusedLength = 0;
};

} // namespace sim
