#include "bus/MelkoNetwork.h"

#include "bus/MelkoFrame.h"

#include <cstring>

namespace {

const unsigned char MAX_HEADER_SIZE = 5;
const unsigned long DATA_READ_TIMEOUT_MS = 60000;

} // namespace

CMelkoNetwork* CMelkoNetwork::m_instance = nullptr;

CMelkoNetwork* CMelkoNetwork::getInstance() {
    if (m_instance == nullptr) {
        m_instance = new CMelkoNetwork();
        m_instance->initialize();
    }
    return m_instance;
}

void CMelkoNetwork::Destroy() {
    delete m_instance;
    m_instance = nullptr;
}

bool CMelkoNetwork::sendFrame(CMelkoFrame* frame, unsigned long timeoutMs) {
    char buffer[CMelkoFrame::HEADER_SIZE + CMelkoFrame::MAX_DATA_LENGTH];
    if (!frame->getBuffer(buffer)) {
        return false;
    }
    return sendBytes(buffer, static_cast<int>(frame->getFrameSize()), timeoutMs) != -1;
}

void CMelkoNetwork::discardWaiting() {
    m_readStart = 0;
    m_readEnd = 0;
    CNetwork::discardWaiting();
}

bool CMelkoNetwork::fillReadBuffer(unsigned long count, unsigned long timeoutMs) {
    if (m_readEnd - m_readStart >= count) {
        return true;
    }
    if (m_readStart > 0) {
        memmove(m_readBuffer, m_readBuffer + m_readStart, m_readEnd - m_readStart);
        m_readEnd -= m_readStart;
        m_readStart = 0;
    }
    while (m_readEnd < count) {
        int got = receiveBytes(m_readBuffer + m_readEnd,
                               static_cast<int>(READ_BUFFER_SIZE - m_readEnd), timeoutMs);
        if (got <= 0) {
            return false;
        }
        m_readEnd += static_cast<unsigned long>(got);
    }
    return true;
}

void CMelkoNetwork::takeFromReadBuffer(char* dest, unsigned long count) {
    memcpy(dest, m_readBuffer + m_readStart, count);
    m_readStart += count;
}

int CMelkoNetwork::receiveFrameHeader(CMelkoFrame* frame, unsigned char headerSize,
                                      unsigned long timeoutMs) {
    if (headerSize == 0 || headerSize > MAX_HEADER_SIZE) {
        return -1;
    }
    char header[MAX_HEADER_SIZE] = {};
    // A reply is at most 524 bytes: its header within the time-out, the
    // rest within one data time-out more, however it trickles in.
    boundReply(timeoutMs + DATA_READ_TIMEOUT_MS);
    if (!fillReadBuffer(headerSize, timeoutMs)) {
        return -1;
    }
    takeFromReadBuffer(header, headerSize);
    frame->setHeader(header);
    return static_cast<int>(frame->getDataLength());
}

bool CMelkoNetwork::receiveFrameData(CMelkoFrame* frame, unsigned long length) {
    if (length == 0) {
        return true;
    }
    if (length > CMelkoFrame::MAX_DATA_LENGTH || !fillReadBuffer(length, DATA_READ_TIMEOUT_MS)) {
        return false;
    }
    char block[CMelkoFrame::MAX_DATA_LENGTH];
    takeFromReadBuffer(block, length);
    return frame->setData(block, length);
}

int CMelkoNetwork::receiveData(char* buffer, int length, unsigned long timeoutMs) {
    if (length <= 0) {
        return -1;
    }
    return receiveAll(buffer, length, timeoutMs);
}
