#include "support/Loopback.h"

#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <unistd.h>

namespace testsupport {

namespace {

const int kFirstHost = 2;
const int kLastHost = 250;

// Tries to hold the lock of one address; the descriptor is kept open on
// success (close-on-exec, so a child such as a simulator does not keep the
// reservation alive after this process).
bool lockAddress(const std::string& address) {
    std::string path = "/tmp/tursa-test-" + address + ".lock";
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
    if (fd < 0) {
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    return true;
}

std::string findFreeAddress() {
    // Start at a host number that depends on the pid so that parallel test
    // processes rarely contend for the same locks.
    int span = kLastHost - kFirstHost + 1;
    int offset = static_cast<int>(::getpid() % span);
    for (int i = 0; i < span; ++i) {
        std::string address = "127.0.0." + std::to_string(kFirstHost + (offset + i) % span);
        if (lockAddress(address)) {
            return address;
        }
    }
    return "";
}

} // namespace

std::string reserveLoopbackAddress() {
    static std::mutex guard;
    static std::string reserved;
    std::lock_guard<std::mutex> lock(guard);
    if (reserved.empty()) {
        reserved = findFreeAddress();
    }
    return reserved;
}

} // namespace testsupport
