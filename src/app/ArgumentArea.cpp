#include "app/ArgumentArea.h"

#include <algorithm>
#include <cstring>
#include <string>

void CArgumentArea::record(int argc, char** argv) {
    m_arguments.assign(argv, argv + argc);
    m_hidden.clear();
}

void CArgumentArea::hide(char* begin, size_t length) {
    if (length > 0) {
        m_hidden.push_back({begin, length});
    }
}

// The kernel lays the arguments out one after the other, each ended by a
// zero byte; anything else (an area rewritten before) is left alone.
bool CArgumentArea::isContiguous() const {
    for (size_t i = 0; i + 1 < m_arguments.size(); ++i) {
        if (m_arguments[i + 1] != m_arguments[i] + strlen(m_arguments[i]) + 1) {
            return false;
        }
    }
    return !m_arguments.empty();
}

bool CArgumentArea::isHidden(const char* byte) const {
    for (const Range& range : m_hidden) {
        if (byte >= range.begin && byte < range.begin + range.length) {
            return true;
        }
    }
    return false;
}

void CArgumentArea::rewrite() {
    if (m_hidden.empty()) {
        return;
    }
    if (!isContiguous()) {
        for (const Range& range : m_hidden) {
            memset(range.begin, 0, range.length);
        }
        return;
    }
    std::string text;
    for (char* argument : m_arguments) {
        const size_t length = strlen(argument);
        std::string kept;
        for (size_t i = 0; i < length; ++i) {
            if (!isHidden(argument + i)) {
                kept += argument[i];
            }
        }
        // A whole hidden argument leaves no gap between its neighbours.
        if (!kept.empty() || length == 0) {
            text += text.empty() ? "" : " ";
            text += kept;
        }
    }
    char* area = m_arguments.front();
    const char* last = m_arguments.back();
    const size_t size = static_cast<size_t>(last + strlen(last) + 1 - area);
    // Something was taken out, so the text ends at least two bytes before
    // the area does.
    memset(area, 0, size);
    std::copy_n(text.begin(), std::min(text.size(), size - 2), area);
    area[size - 1] = ' ';
    std::fill(text.begin(), text.end(), '\0');
}
