#include "fleet/UtcTime.h"

#include <cctype>
#include <climits>
#include <cstdlib>

namespace {

std::string format(time_t when, const char* pattern) {
    struct tm parts {};
    gmtime_r(&when, &parts);
    char text[32];
    strftime(text, sizeof(text), pattern, &parts);
    return text;
}

} // namespace

std::string CUtcTime::iso(time_t when) {
    return format(when, "%Y-%m-%dT%H:%M:%SZ");
}

std::string CUtcTime::compact(time_t when) {
    return format(when, "%Y%m%dT%H%M%SZ");
}

bool CUtcTime::parseIso(const std::string& text, time_t* when) {
    struct tm parts {};
    const char* end = strptime(text.c_str(), "%Y-%m-%dT%H:%M:%SZ", &parts);
    if (end == nullptr || *end != '\0') {
        return false;
    }
    *when = timegm(&parts);
    return true;
}

bool CUtcTime::isCompact(const std::string& text) {
    if (text.size() != 16 || text[8] != 'T' || text[15] != 'Z') {
        return false;
    }
    for (size_t i = 0; i < 15; ++i) {
        if (i != 8 && !isdigit(static_cast<unsigned char>(text[i]))) {
            return false;
        }
    }
    return true;
}

bool CUtcTime::parseDuration(const std::string& text, long* seconds) {
    if (text.size() < 2 || !isdigit(static_cast<unsigned char>(text[0])) || text.size() > 12) {
        return false;
    }
    char* unit = nullptr;
    const long count = strtol(text.c_str(), &unit, 10);
    if (unit[0] == '\0' || unit[1] != '\0') {
        return false;
    }
    const long factor = *unit == 's' ? 1 : *unit == 'm' ? 60 : *unit == 'h' ? 3600 : *unit == 'd' ? 86400 : 0;
    if (factor == 0 || count > LONG_MAX / factor) {
        return false;
    }
    *seconds = count * factor;
    return true;
}

double CUtcTime::monotonic() {
    struct timespec now {};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}
