#pragma once

#include "app/Logger.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <sys/stat.h>

namespace storetest {

namespace fs = std::filesystem;

// A fresh directory under /tmp, removed with its files afterwards.
class TempDir {
public:
    TempDir() {
        char pattern[] = "/tmp/tursa-store-XXXXXX";
        EXPECT_NE(mkdtemp(pattern), nullptr);
        m_path = pattern;
    }
    ~TempDir() { fs::remove_all(m_path); }
    std::string path(const std::string& name) const { return m_path + "/" + name; }
    std::set<std::string> names() const {
        std::set<std::string> result;
        for (const auto& entry : fs::directory_iterator(m_path)) {
            result.insert(entry.path().filename());
        }
        return result;
    }

private:
    std::string m_path;
};

// Collects the logger's level-1 lines while it lives.
class ErrorCapture {
public:
    ErrorCapture() : m_saved(std::cerr.rdbuf(m_text.rdbuf())) {
        CLogger::getInstance()->setLevel(1);
    }
    ~ErrorCapture() { std::cerr.rdbuf(m_saved); }
    std::string text() const { return m_text.str(); }

private:
    std::stringstream m_text;
    std::streambuf* m_saved;
};

// A literal with its embedded NUL bytes.
template <size_t N> std::string bytes(const char (&text)[N]) {
    return std::string(text, N - 1);
}

inline std::string readBytes(const std::string& path) {
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

inline void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

inline unsigned modeOf(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
}

} // namespace storetest
