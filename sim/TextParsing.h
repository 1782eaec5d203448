#pragma once

#include <string>
#include <vector>

namespace sim {

// Small helpers shared by the command-line parsers.
class TextParsing {
public:
    // "a:b::c" gives {"a", "b", "", "c"}; a text without separator gives itself.
    static std::vector<std::string> split(const std::string& text, char separator);

    // Plain decimal digits only (no sign, no spaces), at most max.
    static bool decimal(const std::string& text, unsigned long max, unsigned long* value);

    // Decimal, or hexadecimal after "0x"/"0X", at most max.
    static bool decimalOrHex(const std::string& text, unsigned long max, unsigned long* value);
};

} // namespace sim
