#include "TextParsing.h"

#include <cstdlib>

namespace sim {

std::vector<std::string> TextParsing::split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t found = text.find(separator, start);
        parts.push_back(text.substr(start, found - start));
        if (found == std::string::npos) {
            return parts;
        }
        start = found + 1;
    }
}

bool TextParsing::decimal(const std::string& text, unsigned long max, unsigned long* value) {
    // Ten digits at most keeps strtoul inside 64 bits whatever the input.
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 10) {
        return false;
    }
    *value = std::strtoul(text.c_str(), nullptr, 10);
    return *value <= max;
}

bool TextParsing::decimalOrHex(const std::string& text, unsigned long max, unsigned long* value) {
    if (text.size() < 3 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) {
        return decimal(text, max, value);
    }
    std::string digits = text.substr(2);
    if (digits.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos ||
        digits.size() > 8) {
        return false;
    }
    *value = std::strtoul(digits.c_str(), nullptr, 16);
    return *value <= max;
}

} // namespace sim
