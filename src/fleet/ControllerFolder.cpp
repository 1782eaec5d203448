#include "fleet/ControllerFolder.h"

#include "fleet/AtomicFile.h"
#include "fleet/FleetStore.h"
#include "fleet/Sha256.h"
#include "fleet/UtcTime.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// "STAMP" of a name "STAMP" + suffix, or "" for other names.
std::string stampOf(const std::string& name, const std::string& suffix) {
    const size_t size = name.size() - suffix.size();
    if (name.size() <= suffix.size() || name.compare(size, suffix.size(), suffix) != 0 ||
        !CUtcTime::isCompact(name.substr(0, size))) {
        return "";
    }
    return name.substr(0, size);
}

} // namespace

CControllerFolder::CControllerFolder(const CFleetStore& store, const std::string& name)
    : m_store(store), m_name(name), m_path(store.path() + "/" + name) {}

CControllerFolder::~CControllerFolder() {
    for (int fd : {m_fd, m_logsFd}) {
        if (fd >= 0) {
            close(fd);
        }
    }
}

int CControllerFolder::openFolder(int parentFd, const std::string& name, const std::string& shown) {
    const int fd = openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0 && (errno == ELOOP || errno == ENOTDIR)) {
        throw CAtomicFile::StoreError(shown + " is a link or not a folder: refused, nothing is "
                                              "written through a link in the store");
    }
    if (fd < 0) {
        CAtomicFile::fail("open", shown);
    }
    return fd;
}

void CControllerFolder::prepare() {
    if (mkdirat(m_store.fd(), m_name.c_str(), 0700) != 0 && errno != EEXIST) {
        CAtomicFile::fail("create", m_path);
    }
    m_fd = openFolder(m_store.fd(), m_name, m_path);
    if (faccessat(m_fd, ".", W_OK, AT_EACCESS) != 0) {
        CAtomicFile::fail("write to", m_path);
    }
    if (mkdirat(m_fd, "logs", 0700) != 0 && errno != EEXIST) {
        CAtomicFile::fail("create", m_path + "/logs");
    }
    m_logsFd = openFolder(m_fd, "logs", m_path + "/logs");
    latest(); // refuses a latest that is not our link
    removeHidden();
}

void CControllerFolder::open() {
    m_fd = openFolder(m_store.fd(), m_name, m_path);
}

std::string CControllerFolder::latest() const {
    char target[256];
    const ssize_t size = readlinkat(m_fd, "latest", target, sizeof(target) - 1);
    if (size < 0 && errno == ENOENT) {
        return "";
    }
    if (size < 0 && errno == EINVAL) {
        throw CAtomicFile::StoreError(file("latest") + " is not a link: refused");
    }
    if (size < 0) {
        CAtomicFile::fail("read", file("latest"));
    }
    const std::string name(target, static_cast<size_t>(size));
    if (stampOf(name, ".bak").empty()) {
        throw CAtomicFile::StoreError(file("latest") + " points elsewhere (" + name + "): refused");
    }
    return size >= 0 && this->size(name) >= 0 ? name : "";
}

std::vector<std::string> CControllerFolder::backups() const {
    std::vector<std::string> names = namesIn(m_fd);
    names.erase(std::remove_if(names.begin(), names.end(),
                               [](const std::string& name) { return stampOf(name, ".bak").empty(); }),
                names.end());
    std::sort(names.begin(), names.end());
    return names;
}

long CControllerFolder::size(const std::string& name) const {
    struct stat info {};
    if (fstatat(m_fd, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(info.st_mode)) {
        return -1;
    }
    return static_cast<long>(info.st_size);
}

void CControllerFolder::keep(const std::string& stamp) {
    const std::string pending = pendingName(stamp);
    const std::string name = backupName(stamp);
    std::string digest;
    if (!CSha256::ofFile(m_fd, pending, &digest)) {
        CAtomicFile::fail("read", file(pending));
    }
    // Never over a backup of the same second, whose checksum must stay.
    if (renameat2(m_fd, pending.c_str(), m_fd, name.c_str(), RENAME_NOREPLACE) != 0) {
        CAtomicFile::fail("store", file(name));
    }
    try {
        CAtomicFile::writeAt(m_fd, name + ".sha256", CSha256::line(digest, name), file(name + ".sha256"));
    } catch (const CAtomicFile::StoreError&) {
        unlinkat(m_fd, name.c_str(), 0); // no backup without its checksum
        throw;
    }
    // A new link under a hidden name, renamed over latest: readers see the
    // old or the new one, never none.
    const std::string link = ".latest." + std::to_string(getpid());
    unlinkat(m_fd, link.c_str(), 0);
    if (symlinkat(name.c_str(), m_fd, link.c_str()) != 0 ||
        renameat(m_fd, link.c_str(), m_fd, "latest") != 0) {
        const int error = errno;
        unlinkat(m_fd, link.c_str(), 0);
        errno = error;
        CAtomicFile::fail("move", file("latest"));
    }
    fsync(m_fd);
}

// The tool has ended: what it left (the pending file, its .partial, a
// temporary of a tool that was killed) is all under hidden names.
void CControllerFolder::discard() {
    removeHidden();
}

void CControllerFolder::prune(size_t keep) {
    const std::vector<std::string> all = backups();
    std::set<std::string> kept(all.end() - static_cast<long>(std::min(keep, all.size())), all.end());
    const std::string current = latest();
    if (!current.empty()) {
        kept.insert(current);
    }
    for (const std::string& name : all) {
        if (kept.count(name) == 0) {
            remove(m_fd, name);
            remove(m_fd, name + ".sha256");
        }
    }
    pruneLogs(kept.empty() ? "" : stampOf(*kept.begin(), ".bak"), keep);
}

// A log is kept while the backup that was the newest before it is: every
// log from the oldest kept backup on. Without any backup, the newest logs.
void CControllerFolder::pruneLogs(const std::string& oldestKept, size_t keep) {
    std::vector<std::string> logs = namesIn(m_logsFd);
    logs.erase(std::remove_if(logs.begin(), logs.end(),
                              [](const std::string& name) { return stampOf(name, ".log").empty(); }),
               logs.end());
    std::sort(logs.begin(), logs.end());
    const size_t keptByCount = logs.size() - std::min(keep, logs.size());
    for (size_t i = 0; i < logs.size(); ++i) {
        const bool old = oldestKept.empty() ? i < keptByCount : stampOf(logs[i], ".log") < oldestKept;
        if (old) {
            remove(m_logsFd, logs[i]);
        }
    }
}

void CControllerFolder::remove(int folderFd, const std::string& name) {
    if (unlinkat(folderFd, name.c_str(), 0) != 0 && errno != ENOENT) {
        CAtomicFile::fail("remove", file(folderFd == m_logsFd ? "logs/" + name : name));
    }
}

void CControllerFolder::removeHidden() {
    for (const std::string& name : namesIn(m_fd)) {
        if (name[0] == '.' && name != "." && name != "..") {
            unlinkat(m_fd, name.c_str(), 0);
        }
    }
}

std::vector<std::string> CControllerFolder::namesIn(int folderFd) {
    std::vector<std::string> names;
    const int listing = openat(folderFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* folder = listing >= 0 ? fdopendir(listing) : nullptr;
    for (dirent* entry = folder ? readdir(folder) : nullptr; entry; entry = readdir(folder)) {
        names.push_back(entry->d_name);
    }
    if (folder != nullptr) {
        closedir(folder);
    }
    return names;
}

std::string CControllerFolder::read(const std::string& name) const {
    std::string text;
    const int fd = openat(m_fd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    char buffer[4096];
    for (ssize_t got; fd >= 0 && (got = ::read(fd, buffer, sizeof(buffer))) > 0;) {
        text.append(buffer, static_cast<size_t>(got));
    }
    if (fd >= 0) {
        close(fd);
    }
    return text;
}

CControllerState CControllerFolder::readState() const {
    return CControllerState::fromJson(read("state.json"));
}

void CControllerFolder::writeState(const CControllerState& state) {
    CAtomicFile::writeAt(m_fd, "state.json", state.toJson().dump(2) + "\n", file("state.json"));
}
