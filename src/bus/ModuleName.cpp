#include "bus/ModuleName.h"

#include "bus/MelkoAction.h"

#include <cstdio>

int CModuleName::numberOf(unsigned char address) {
    return (address + 0x40) & 0xFF;
}

std::string CModuleName::hex(int value) {
    char text[16];
    snprintf(text, sizeof(text), "%0x", static_cast<unsigned int>(value));
    return text;
}

std::string CModuleName::label(unsigned char address) {
    return address == CMelkoAction::ADDRESS_ALL_FPM
               ? "All FPMs"
               : "FPM " + std::to_string(address - CMelkoAction::ADDRESS_FIRST_FPM);
}

void CModuleName::append(std::string* list, int number) {
    if (!list->empty()) {
        list->append(", ");
    }
    list->append(std::to_string(number));
}
