#pragma once

#include <string>

// How the log lines, the messages and the progress line name a module.
class CModuleName {
public:
    // The FPM number of a bus address: 1 to 8 for 0xC1 to 0xC8, 15 for 0xCF.
    static int numberOf(unsigned char address);
    // A number as the log lines write it: lower-case hex ("%0x").
    static std::string hex(int value);
    // "FPM 2", or "All FPMs" for the group address 0xCF.
    static std::string label(unsigned char address);
    // Adds a module number to a message's list, as in "[2, 5]".
    static void append(std::string* list, int number);
};
