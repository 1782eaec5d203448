#pragma once

#include <cstdint>
#include <string>

namespace sim {

// The directory where the simulator shows its state to the tests: the data
// sets as <name>.bin, frames.log with every complete frame received, and
// the file ready once the listeners are set up.
class StateDir {
public:
    explicit StateDir(std::string path) : m_path(std::move(path)) {}
    ~StateDir();
    StateDir(const StateDir&) = delete;
    StateDir& operator=(const StateDir&) = delete;

    // Starts a fresh frames.log; fails when the directory is not usable.
    bool open(std::string* error);

    // Replaces the file through a temporary and a rename, so that a reader
    // never sees half a file.
    bool writeFile(const std::string& name, const std::string& bytes);

    // One line "PORT xx xx ...", written with one call so lines stay whole.
    void logFrame(uint16_t port, const std::string& wire);

    bool writeReady(int pid);

    const std::string& path() const { return m_path; }

private:
    std::string m_path;
    int m_frameLog = -1;
};

} // namespace sim
