#include "StateDir.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace sim {

namespace {

bool writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t written = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written < 0) {
            return false;
        }
        done += static_cast<size_t>(written);
    }
    return true;
}

std::string hexLine(uint16_t port, const std::string& wire) {
    static const char kDigits[] = "0123456789abcdef";
    std::string line = std::to_string(port);
    line.reserve(line.size() + wire.size() * 3 + 1);
    for (char c : wire) {
        unsigned char byte = static_cast<unsigned char>(c);
        line.push_back(' ');
        line.push_back(kDigits[byte >> 4]);
        line.push_back(kDigits[byte & 0x0F]);
    }
    line.push_back('\n');
    return line;
}

} // namespace

StateDir::~StateDir() {
    if (m_frameLog >= 0) {
        ::close(m_frameLog);
    }
}

bool StateDir::open(std::string* error) {
    std::string logPath = m_path + "/frames.log";
    m_frameLog = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (m_frameLog < 0) {
        *error = "cannot write " + logPath + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool StateDir::writeFile(const std::string& name, const std::string& bytes) {
    std::string finalPath = m_path + "/" + name;
    std::string tempPath = finalPath + ".tmp";
    int fd = ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        return false;
    }
    bool written = writeAll(fd, bytes);
    ::close(fd);
    if (!written || std::rename(tempPath.c_str(), finalPath.c_str()) != 0) {
        ::unlink(tempPath.c_str());
        return false;
    }
    return true;
}

void StateDir::logFrame(uint16_t port, const std::string& wire) {
    if (m_frameLog >= 0 && !writeAll(m_frameLog, hexLine(port, wire))) {
        std::fprintf(stderr, "tursa-sim: cannot append to frames.log: %s\n", std::strerror(errno));
    }
}

bool StateDir::writeReady(int pid) {
    return writeFile("ready", std::to_string(pid));
}

} // namespace sim
