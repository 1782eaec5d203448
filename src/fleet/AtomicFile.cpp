#include "fleet/AtomicFile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

bool writeAll(int fd, const std::string& content) {
    size_t done = 0;
    while (done < content.size()) {
        const ssize_t wrote = ::write(fd, content.data() + done, content.size() - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
        done += static_cast<size_t>(wrote);
    }
    return true;
}

} // namespace

void CAtomicFile::writeAt(int folderFd, const std::string& name, const std::string& content,
                          const std::string& shown, mode_t mode) {
    static unsigned counter = 0;
    const std::string temporary =
        "." + name + "." + std::to_string(getpid()) + "." + std::to_string(++counter);
    const int fd = openat(folderFd, temporary.c_str(),
                          O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd < 0) {
        fail("write", shown);
    }
    const bool stored = fchmod(fd, mode) == 0 && writeAll(fd, content) && fsync(fd) == 0;
    const int error = errno;
    close(fd);
    if (!stored || renameat(folderFd, temporary.c_str(), folderFd, name.c_str()) != 0) {
        const int cause = stored ? errno : error;
        unlinkat(folderFd, temporary.c_str(), 0);
        errno = cause;
        fail("write", shown);
    }
    fsync(folderFd);
}

void CAtomicFile::write(const std::string& path, const std::string& content, mode_t mode) {
    const size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const int folderFd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0) {
        fail("write", path);
    }
    try {
        writeAt(folderFd, name, content, path, mode);
    } catch (...) {
        close(folderFd);
        throw;
    }
    close(folderFd);
}

void CAtomicFile::fail(const std::string& what, const std::string& path) {
    throw StoreError("cannot " + what + " " + path + ": " + strerror(errno));
}
