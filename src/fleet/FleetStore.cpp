#include "fleet/FleetStore.h"

#include "fleet/AtomicFile.h"
#include "fleet/ControllerFolder.h"
#include "fleet/Inventory.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

CFleetStore::~CFleetStore() {
    if (m_fd >= 0) {
        close(m_fd);
    }
    if (m_lockFd >= 0) {
        close(m_lockFd);
    }
}

void CFleetStore::open(bool create) {
    for (size_t slash = 0; create && slash != std::string::npos;) {
        slash = m_path.find('/', slash + 1);
        const std::string folder = m_path.substr(0, slash);
        if (mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) {
            CAtomicFile::fail("create", folder);
        }
    }
    m_fd = ::open(m_path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (m_fd < 0) {
        CAtomicFile::fail("open the store", m_path);
    }
}

long CFleetStore::lock() {
    m_lockFd = openat(m_fd, ".lock", O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    // A read-only store is still locked, so that each controller fails with
    // its own message.
    const bool readOnly = m_lockFd < 0 && errno == EROFS;
    if (readOnly) {
        m_lockFd = openat(m_fd, ".lock", O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    }
    if (m_lockFd < 0) {
        CAtomicFile::fail("open the lock", m_path + "/.lock");
    }
    if (flock(m_lockFd, LOCK_EX | LOCK_NB) != 0) {
        char text[32] = {};
        const ssize_t got = pread(m_lockFd, text, sizeof(text) - 1, 0);
        const long holder = got > 0 ? strtol(text, nullptr, 10) : 0;
        return holder > 0 ? holder : -1;
    }
    const std::string pid = std::to_string(getpid()) + "\n";
    if (!readOnly && (ftruncate(m_lockFd, 0) != 0 || pwrite(m_lockFd, pid.data(), pid.size(), 0) < 0)) {
        CAtomicFile::fail("write the lock", m_path + "/.lock");
    }
    return 0;
}

std::vector<std::string> CFleetStore::controllerNames() const {
    std::vector<std::string> names;
    for (const std::string& name : CControllerFolder::namesIn(m_fd)) {
        struct stat info {};
        if (CInventory::isValidName(name) && fstatat(m_fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISDIR(info.st_mode)) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}
