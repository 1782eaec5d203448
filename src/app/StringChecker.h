#pragma once

#include <string>

// Character-level tests of option arguments.
class StringChecker {
public:
    StringChecker() = default;
    virtual ~StringChecker() = default;

    // True when every character is a decimal digit; the empty text counts.
    bool isNumerical(const std::string& text);
    // True for a dotted-decimal IPv4 address, the only form the controller
    // connection can use.
    bool isIpAddress(const std::string& text);
};
