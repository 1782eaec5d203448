#include "controller/Frame.h"

#include "base/ExitCode.h"
#include "base/Logger.h"

#include <algorithm>
#include <cstring>
#include <new>

CFrame::CFrame() : m_dataLength(0), m_dataId(0), m_type(0), m_SOH(0) {}

CFrame::~CFrame() {}

bool CFrame::isHeaderOnlyType(unsigned char type) {
    switch (type) {
    case TYPE_BACKUP:
    case TYPE_CLOSE:
    case 5: // not used by the tool
    case TYPE_CLOSE_ACK:
    case TYPE_GET_VERSION:
    case TYPE_VERSION_REPLY:
    case TYPE_PASSWORD_REPLY:
        return true;
    default:
        return false;
    }
}

void CFrame::setData(const char* data, unsigned long length) {
    try {
        m_data.clear();
        if (length > 0) {
            m_data.assign(data, data + length);
        }
    } catch (const std::bad_alloc&) {
        logMemoryError();
        throw;
    }
    m_dataLength = length;
}

void CFrame::getData(char* dest, unsigned long* length) const {
    unsigned long count = std::min<unsigned long>(m_data.size(), m_dataLength);
    if (count == 0) {
        return;
    }
    memcpy(dest, m_data.data(), count);
    *length = count;
}

void CFrame::setData(std::vector<char> data) {
    m_dataLength = data.size();
    m_data = std::move(data);
}

unsigned long CFrame::getFrameSize() const {
    if (isHeaderOnlyType(m_type)) {
        return SHORT_HEADER_SIZE;
    }
    return LONG_HEADER_SIZE + m_dataLength;
}

unsigned char CFrame::getHeader(char* buffer) const {
    buffer[0] = static_cast<char>(m_SOH);
    buffer[1] = static_cast<char>(m_type);
    buffer[2] = static_cast<char>(m_dataId);
    if (isHeaderOnlyType(m_type)) {
        return SHORT_HEADER_SIZE;
    }
    for (int i = 0; i < 4; ++i) {
        buffer[3 + i] = static_cast<char>((m_dataLength >> (8 * i)) & 0xFF);
    }
    return LONG_HEADER_SIZE;
}

bool CFrame::getBuffer(char* buffer) const {
    if (getHeader(buffer) == SHORT_HEADER_SIZE) {
        return true;
    }
    // A block shorter than the length field is padded with zeros, so the
    // buffer never holds bytes from elsewhere.
    unsigned long count = std::min<unsigned long>(m_data.size(), m_dataLength);
    if (count > 0) {
        memcpy(buffer + LONG_HEADER_SIZE, m_data.data(), count);
    }
    memset(buffer + LONG_HEADER_SIZE + count, 0, m_dataLength - count);
    return true;
}

bool CFrame::setHeader(const char* buffer) {
    m_SOH = static_cast<unsigned char>(buffer[0]);
    m_type = static_cast<unsigned char>(buffer[1]);
    m_dataId = static_cast<unsigned char>(buffer[2]);
    m_dataLength = 0;
    if (!isHeaderOnlyType(m_type)) {
        for (int i = 0; i < 4; ++i) {
            m_dataLength |= static_cast<unsigned long>(static_cast<unsigned char>(buffer[3 + i]))
                            << (8 * i);
        }
    }
    return true;
}
