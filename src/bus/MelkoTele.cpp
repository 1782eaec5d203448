#include "bus/MelkoTele.h"

#include "base/ExitCode.h"
#include "base/Logger.h"

#include <cstring>
#include <new>

namespace {

std::unique_ptr<char[]> allocateInfoBuffer() {
    try {
        return std::unique_ptr<char[]>(new char[CMelkoTele::INFO_CAPACITY]());
    } catch (const std::bad_alloc&) {
        logMemoryError();
        throw;
    }
}

} // namespace

CMelkoTele::CMelkoTele()
    : m_source(0), m_destination(0), m_function(0), m_infoSize(0),
      m_infoBytes(allocateInfoBuffer()) {}

void CMelkoTele::setInfoBytes(const char* bytes, long length) {
    if (length < 0 || length > INFO_CAPACITY) {
        return;
    }
    memcpy(m_infoBytes.get(), bytes, static_cast<size_t>(length));
    m_infoSize = static_cast<int>(length);
}

void CMelkoTele::appendInfoBytes(const char* bytes, long length) {
    if (length < 0 || m_infoSize + length >= INFO_CAPACITY) {
        return;
    }
    memcpy(m_infoBytes.get() + m_infoSize, bytes, static_cast<size_t>(length));
    m_infoSize += static_cast<int>(length);
}
