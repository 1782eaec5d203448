#pragma once

#include <string>
#include <vector>

// The store folder DIR: one folder per controller, and the lock that keeps
// a second run out (DIR/.lock, holding the pid of the run that has it).
class CFleetStore {
public:
    explicit CFleetStore(std::string path) : m_path(std::move(path)) {}
    ~CFleetStore();
    CFleetStore(const CFleetStore&) = delete;
    CFleetStore& operator=(const CFleetStore&) = delete;

    // Opens DIR; create makes it (0700, with missing parents) when missing.
    // Throws CAtomicFile::StoreError.
    void open(bool create);
    // 0 when this process holds the lock now; otherwise the pid of the
    // holder (-1 when it cannot be read).
    long lock();

    int fd() const { return m_fd; }
    const std::string& path() const { return m_path; }
    // The controller folders (real folders, not links), sorted by name.
    std::vector<std::string> controllerNames() const;

private:
    std::string m_path;
    int m_fd = -1;
    int m_lockFd = -1;
};
