#include "controller/DataNetwork.h"

#include "base/ExitCode.h"
#include "base/Logger.h"
#include "controller/Frame.h"

#include <climits>
#include <new>
#include <vector>

namespace {

const unsigned long CLOSE_SEND_TIMEOUT_MS = 60000;
const unsigned long CLOSE_ACK_TIMEOUT_MS = 1000;

// No reply may hold the run longer than 10 minutes, plus a minute for every
// 16 MiB its header announces: a peer that sends a byte now and then, each
// within the per-read time-out, would otherwise keep a run alive for hours.
const unsigned long REPLY_LIMIT_MS = 10 * 60 * 1000;
const unsigned long REPLY_LIMIT_STEP_BYTES = 16UL * 1024 * 1024;
const unsigned long REPLY_LIMIT_STEP_MS = 60 * 1000;

} // namespace

CDataNetwork* CDataNetwork::m_instance = nullptr;

CDataNetwork* CDataNetwork::getInstance() {
    if (m_instance == nullptr) {
        m_instance = new CDataNetwork();
        m_instance->initialize();
    }
    return m_instance;
}

void CDataNetwork::Destroy() {
    delete m_instance;
    m_instance = nullptr;
}

bool CDataNetwork::sendFrame(CFrame* frame, unsigned long timeoutMs) {
    unsigned long size = frame->getFrameSize();
    if (size > INT_MAX) {
        return false;
    }
    std::vector<char> buffer;
    try {
        buffer.resize(size);
    } catch (const std::bad_alloc&) {
        logMemoryError();
        throw;
    }
    frame->getBuffer(buffer.data());
    return sendBytes(buffer.data(), static_cast<int>(size), timeoutMs) != -1;
}

long CDataNetwork::receiveFrameHeader(CFrame* frame, unsigned char headerSize,
                                      unsigned long timeoutMs) {
    if (headerSize < CFrame::SHORT_HEADER_SIZE) {
        return -1;
    }
    char header[UCHAR_MAX];
    boundReply(REPLY_LIMIT_MS);
    if (receiveAll(header, headerSize, timeoutMs) == -1) {
        return -1;
    }
    if (headerSize < CFrame::LONG_HEADER_SIZE &&
        !CFrame::isHeaderOnlyType(static_cast<unsigned char>(header[1]))) {
        if (receiveAll(header + headerSize, CFrame::LONG_HEADER_SIZE - headerSize, timeoutMs) ==
            -1) {
            return -1;
        }
    }
    frame->setHeader(header);
    return static_cast<long>(frame->getDataLength());
}

bool CDataNetwork::receiveFrameData(CFrame* frame, unsigned long size, unsigned long timeoutMs) {
    if (size == 0) {
        return true;
    }
    boundReply(REPLY_LIMIT_MS + size / REPLY_LIMIT_STEP_BYTES * REPLY_LIMIT_STEP_MS);
    std::vector<char> block;
    try {
        if (!receiveAll(&block, size, timeoutMs)) {
            return false;
        }
    } catch (const std::bad_alloc&) {
        logMemoryError();
        throw;
    }
    frame->setData(block.data(), size);
    return true;
}

int CDataNetwork::receiveData(char* buffer, int length, unsigned long timeoutMs) {
    return receiveAll(buffer, length, timeoutMs);
}

bool CDataNetwork::closeConnection() {
    if (m_state == STATE_CLOSED) {
        return false;
    }
    CFrame frame;
    frame.setSOH(CFrame::SOH);
    frame.setType(CFrame::TYPE_CLOSE);
    frame.setDataId(0);
    sendFrame(&frame, CLOSE_SEND_TIMEOUT_MS);
    if (receiveFrameHeader(&frame, CFrame::SHORT_HEADER_SIZE, CLOSE_ACK_TIMEOUT_MS) == -1) {
        CNetwork::closeConnection();
    }
    if (frame.getType() == CFrame::TYPE_CLOSE_ACK) {
        CNetwork::closeConnection();
    }
    return false;
}
