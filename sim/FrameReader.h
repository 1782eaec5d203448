#pragma once

#include "Frame.h"

#include <cstdint>
#include <string>

namespace sim {

// Collects the bytes of one connection and cuts them into controller frames.
// Partial frames stay buffered until the rest arrives; an announced length
// above the cap is refused before anything is allocated for it.
class FrameReader {
public:
    enum class Result { Complete, NeedMore, TooLong };

    explicit FrameReader(uint32_t maxDataLength) : m_maxDataLength(maxDataLength) {}

    void append(const char* bytes, size_t length);
    Result next(Frame* frame);
    void clear();

    // Length announced by the frame that next() refused as too long.
    uint32_t refusedLength() const { return m_refusedLength; }

private:
    size_t buffered() const { return m_buffer.size() - m_start; }
    void consume(size_t length);

    uint32_t m_maxDataLength;
    uint32_t m_refusedLength = 0;
    std::string m_buffer;
    size_t m_start = 0; // consumed bytes are dropped lazily
};

} // namespace sim
