#include "bus/MelkoNetwork.h"

#include "bus/MelkoFrame.h"

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

int CMelkoNetwork::receiveFrameHeader(CMelkoFrame* frame, unsigned char headerSize,
                                      unsigned long timeoutMs) {
    if (headerSize == 0 || headerSize > MAX_HEADER_SIZE) {
        return -1;
    }
    char header[MAX_HEADER_SIZE] = {};
    if (receiveAll(header, headerSize, timeoutMs) == -1) {
        return -1;
    }
    frame->setHeader(header);
    return static_cast<int>(frame->getDataLength());
}

bool CMelkoNetwork::receiveFrameData(CMelkoFrame* frame, unsigned long length) {
    if (length == 0) {
        return true;
    }
    if (length > CMelkoFrame::MAX_DATA_LENGTH) {
        return false;
    }
    char block[CMelkoFrame::MAX_DATA_LENGTH];
    if (receiveAll(block, static_cast<int>(length), DATA_READ_TIMEOUT_MS) == -1) {
        return false;
    }
    return frame->setData(block, length);
}

int CMelkoNetwork::receiveData(char* buffer, int length, unsigned long timeoutMs) {
    if (length <= 0) {
        return -1;
    }
    return receiveAll(buffer, length, timeoutMs);
}
