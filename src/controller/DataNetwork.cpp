#include "controller/DataNetwork.h"

#include "base/ExitCode.h"
#include "base/Logger.h"
#include "controller/Frame.h"

#include <algorithm>
#include <climits>
#include <new>
#include <vector>

namespace {

const unsigned long CLOSE_SEND_TIMEOUT_MS = 60000;
const unsigned long CLOSE_ACK_TIMEOUT_MS = 1000;

// No reply may hold the run longer than 10 minutes, plus a minute for every
// 16 MiB its header announces: a peer that sends a byte now and then, each
// within the per-read time-out, would otherwise keep a run alive for hours.
const unsigned long REPLY_LIMIT_MS = 10UL * 60 * 1000;
const unsigned long REPLY_LIMIT_STEP_BYTES = 16UL * 1024 * 1024;
const unsigned long REPLY_LIMIT_STEP_MS = 60UL * 1000;

// The largest piece of a data block handed to one send call.
const unsigned long MAX_SEND_BYTES = 1UL << 30;

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

// The header and the data block go out one after the other, straight from
// the frame: a data set is never copied into a wire buffer of its own.
bool CDataNetwork::sendFrame(CFrame* frame, unsigned long timeoutMs) {
    char header[CFrame::LONG_HEADER_SIZE];
    const unsigned char headerSize = frame->getHeader(header);
    const unsigned long dataSize = frame->getFrameSize() - headerSize;
    if (sendBytes(header, headerSize, timeoutMs, dataSize > 0) == -1) {
        return false;
    }
    const std::vector<char>& block = frame->getDataBlock();
    const unsigned long fromBlock = std::min<unsigned long>(block.size(), dataSize);
    // A block shorter than the length field is padded with zeros.
    static const char zeros[4096] = {};
    for (unsigned long sent = 0; sent < dataSize;) {
        const bool padding = sent >= fromBlock;
        const char* piece = padding ? zeros : block.data() + sent;
        unsigned long count = padding ? std::min<unsigned long>(dataSize - sent, sizeof(zeros))
                                      : std::min<unsigned long>(fromBlock - sent, MAX_SEND_BYTES);
        if (sendBytes(piece, static_cast<int>(count), timeoutMs, sent + count < dataSize) == -1) {
            return false;
        }
        sent += count;
    }
    return true;
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
    frame->setData(std::move(block));
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
