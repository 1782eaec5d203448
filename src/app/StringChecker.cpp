#include "app/StringChecker.h"

#include <arpa/inet.h>

bool StringChecker::isNumerical(const std::string& text) {
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
    }
    return true;
}

bool StringChecker::isIpAddress(const std::string& text) {
    in_addr address{};
    return inet_pton(AF_INET, text.c_str(), &address) == 1;
}
