#include "StateDir.h"

#include "Clock.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
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

// "xx xx ..." for the bytes, each preceded by a space.
std::string hexBytes(const std::string& wire) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    text.reserve(wire.size() * 3);
    for (char c : wire) {
        unsigned char byte = static_cast<unsigned char>(c);
        text.push_back(' ');
        text.push_back(kDigits[byte >> 4]);
        text.push_back(kDigits[byte & 0x0F]);
    }
    return text;
}

// The directory and its missing parents, mode 0755, as mkdir -p makes them.
bool makeDirectories(const std::string& path, std::string* error) {
    for (size_t end = path.find('/', 1);; end = path.find('/', end + 1)) {
        const std::string part = path.substr(0, end);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            *error = "cannot create " + part + ": " + std::strerror(errno);
            return false;
        }
        if (end == std::string::npos) {
            return true;
        }
    }
}

int openLog(const std::string& path, std::string* error) {
    int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        *error = "cannot write " + path + ": " + std::strerror(errno);
    }
    return fd;
}

void appendLine(int fd, const char* logName, const std::string& line) {
    if (fd >= 0 && !writeAll(fd, line)) {
        std::fprintf(stderr, "tursa-sim: cannot append to %s: %s\n", logName, std::strerror(errno));
    }
}

} // namespace

StateDir::~StateDir() {
    for (int fd : {m_frameLog, m_eventLog}) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

bool StateDir::open(std::string* error) {
    if (!makeDirectories(m_path, error)) {
        return false;
    }
    m_frameLog = openLog(m_path + "/frames.log", error);
    if (m_frameLog < 0) {
        return false;
    }
    m_eventLog = openLog(m_path + "/events.log", error);
    return m_eventLog >= 0;
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
    std::string hex = hexBytes(wire);
    appendLine(m_frameLog, "frames.log", std::to_string(port) + hex + "\n");
    logEvent(port, "frame" + hex);
}

void StateDir::logEvent(uint16_t port, const std::string& what) {
    appendLine(m_eventLog, "events.log",
               std::to_string(Clock::nowMs()) + " " + std::to_string(port) + " " + what + "\n");
}

bool StateDir::writeReady(int pid) {
    return writeFile("ready", std::to_string(pid));
}

} // namespace sim
