#include "base/ExitCode.h"

#include "base/Logger.h"

void failRun(const std::string& message, ExitCode code) {
    CLogger::getInstance()->log(message, 1);
    throw static_cast<int>(code);
}

void logMemoryError() {
    static bool logged = false;
    if (!logged) {
        logged = true;
        CLogger::getInstance()->log("Memory error", 1);
    }
}
