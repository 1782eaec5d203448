#include "base/Progress.h"

#include "base/Logger.h"

#include <unistd.h>

bool CProgress::m_shown = false;

namespace {

// Carriage return, then "erase to the end of the line".
const std::string ERASE_LINE = "\r\033[K";

void writeToTerminal(const std::string& text) {
    const char* data = text.data();
    size_t left = text.size();
    while (left > 0) {
        ssize_t written = write(STDERR_FILENO, data, left);
        if (written <= 0) {
            return; // a progress line is not worth a failure
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
}

} // namespace

bool CProgress::isEnabled() {
    CLogger* logger = CLogger::getInstance();
    return logger->getLevel() >= 1 && logger->getFileName().empty() && isatty(STDERR_FILENO) == 1;
}

void CProgress::show(const std::string& text) {
    if (!isEnabled()) {
        return;
    }
    writeToTerminal(ERASE_LINE + text);
    m_shown = true;
}

void CProgress::clear() {
    if (!m_shown) {
        return;
    }
    m_shown = false;
    writeToTerminal(ERASE_LINE);
}
