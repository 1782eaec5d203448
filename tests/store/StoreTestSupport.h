#pragma once

#include "base/Logger.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace storetest {

// Collects the logger's level-1 lines while it lives.
struct ErrorCapture {
    ErrorCapture() { CLogger::getInstance()->setLevel(1); }
    ~ErrorCapture() { std::cerr.rdbuf(saved); }
    std::string text() const { return lines.str(); }

    std::stringstream lines;
    std::streambuf* saved = std::cerr.rdbuf(lines.rdbuf());
};

} // namespace storetest
