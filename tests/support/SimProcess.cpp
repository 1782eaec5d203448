#include "support/SimProcess.h"

#include <chrono>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

// A port the simulator of an earlier test on this address has just let go
// can still be taken for a moment: such a start is tried again.
bool SimProcess::start(const std::string& address, const std::vector<std::string>& extraArgs,
                       const std::string& stateDir) {
    for (int attempt = 0; attempt < 5; ++attempt) {
        if (startOnce(address, extraArgs, stateDir)) {
            return true;
        }
        if (readFile(stateDir + "/sim.stderr").find("Address already in use") ==
            std::string::npos) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::seconds(1));
    }
    return false;
}

bool SimProcess::startOnce(const std::string& address, const std::vector<std::string>& extraArgs,
                           const std::string& stateDir) {
    m_stateDir = stateDir;
    const std::string ready = stateDir + "/ready";
    ::mkdir(stateDir.c_str(), 0700); // may exist already: a simulator restarted on it
    ::unlink(ready.c_str());         // a ready file from an earlier run must not count
    std::vector<std::string> argv = {TURSA_SIM_BIN, "--address", address, "--state-dir", stateDir};
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    if (!m_process.start(argv, {}, stateDir + "/sim.stdout", stateDir + "/sim.stderr")) {
        return false;
    }
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline && !m_process.waitExit(0)) {
        if (::access(ready.c_str(), F_OK) == 0) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    m_process.stop();
    return false;
}

std::vector<std::string> SimProcess::frames(int port) const {
    std::istringstream log(readFile(m_stateDir + "/frames.log"));
    const std::string prefix = std::to_string(port) + " ";
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);) {
        if (line.rfind(prefix, 0) == 0) {
            lines.push_back(line.substr(prefix.size()));
        }
    }
    return lines;
}

std::vector<SimEvent> SimProcess::events() const {
    std::istringstream log(readFile(m_stateDir + "/events.log"));
    std::vector<SimEvent> events;
    for (std::string line; std::getline(log, line);) {
        std::istringstream fields(line);
        SimEvent event{};
        if (fields >> event.ms >> event.port) {
            std::getline(fields >> std::ws, event.what);
            events.push_back(event);
        }
    }
    return events;
}

bool SimProcess::hasEvent(int port, const std::string& text) const {
    for (const SimEvent& event : events()) {
        if (event.port == port && event.what.rfind(text, 0) == 0) {
            return true;
        }
    }
    return false;
}

} // namespace testsupport
