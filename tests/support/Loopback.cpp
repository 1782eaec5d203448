#include "support/Loopback.h"

#include <fcntl.h>
#include <mutex>
#include <sys/file.h>
#include <unistd.h>
#include <vector>

namespace testsupport {

std::string reserveLoopbackAddress(unsigned index) {
    static std::mutex guard;
    static std::vector<std::string> reserved;
    std::lock_guard<std::mutex> lock(guard);
    // Hosts 2..250, from one that depends on the pid so that parallel test
    // processes rarely contend for the same locks. An address this process
    // holds already fails its second flock like one that another holds.
    for (int i = 0; reserved.size() <= index && i < 249; ++i) {
        std::string address = "127.0.0." + std::to_string(2 + (::getpid() + i) % 249);
        // The descriptor stays open while it holds the lock; close-on-exec,
        // so that a child such as a simulator does not outlive the reservation.
        std::string path = "/tmp/tursa-test-" + address + ".lock";
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            reserved.push_back(address);
        } else if (fd >= 0) {
            ::close(fd);
        }
    }
    return reserved.size() > index ? reserved[index] : std::string();
}

} // namespace testsupport
