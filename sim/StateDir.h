#pragma once

#include <cstdint>
#include <string>

namespace sim {

// The directory where the simulator shows its state to the tests: the data
// sets as <name>.bin, the bus modules as fpm<n>.*, frames.log with every
// complete frame received, events.log with connections and frames on the
// simulator's clock, and the file ready once the listeners are set up.
class StateDir {
public:
    explicit StateDir(std::string path) : m_path(std::move(path)) {}
    ~StateDir();
    StateDir(const StateDir&) = delete;
    StateDir& operator=(const StateDir&) = delete;

    // Creates the directory and its missing parents (mode 0755) and starts
    // a fresh frames.log and events.log; fails when it is not usable.
    bool open(std::string* error);

    // Replaces the file through a temporary and a rename, so that a reader
    // never sees half a file.
    bool writeFile(const std::string& name, const std::string& bytes);

    // One line "PORT xx xx ..." in frames.log and "MS PORT frame xx xx ..."
    // in events.log, each written with one call so lines stay whole.
    void logFrame(uint16_t port, const std::string& wire);

    // One line "MS PORT WHAT" in events.log, MS on the monotonic clock, so
    // the tests can measure the client's pauses on the simulator's side.
    void logEvent(uint16_t port, const std::string& what);

    bool writeReady(int pid);

    const std::string& path() const { return m_path; }

private:
    std::string m_path;
    int m_frameLog = -1;
    int m_eventLog = -1;
};

} // namespace sim
