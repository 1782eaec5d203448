#include "support/SimProcess.h"

#include "support/TempDir.h"

#include <chrono>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

namespace {
const auto kReadyTimeout = std::chrono::seconds(5);
const auto kReadyPollStep = std::chrono::milliseconds(5);
} // namespace

bool SimProcess::start(const std::string& address, const std::vector<std::string>& extraArgs,
                       const std::string& stateDir) {
    m_stateDir = stateDir;
    ::mkdir(stateDir.c_str(), 0700);         // may exist already: a simulator restarted on it
    ::unlink((stateDir + "/ready").c_str()); // a ready file from an earlier run must not count
    std::vector<std::string> argv = {TURSA_SIM_BIN, "--address", address, "--state-dir", stateDir};
    argv.insert(argv.end(), extraArgs.begin(), extraArgs.end());
    if (!m_process.start(argv, {}, stateDir + "/sim.stdout", stateDir + "/sim.stderr")) {
        return false;
    }
    if (!waitForReady()) {
        m_process.stop();
        return false;
    }
    return true;
}

bool SimProcess::waitForReady() {
    auto deadline = std::chrono::steady_clock::now() + kReadyTimeout;
    std::string readyPath = m_stateDir + "/ready";
    while (std::chrono::steady_clock::now() < deadline) {
        if (::access(readyPath.c_str(), F_OK) == 0) {
            return true;
        }
        if (m_process.waitExit(0)) {
            return false; // it ended without getting ready
        }
        std::this_thread::sleep_for(kReadyPollStep);
    }
    return false;
}

std::vector<std::string> SimProcess::frames(int port) const {
    std::istringstream log(readFile(m_stateDir + "/frames.log"));
    std::string prefix = std::to_string(port) + " ";
    std::vector<std::string> lines;
    for (std::string line; std::getline(log, line);) {
        if (line.compare(0, prefix.size(), prefix) == 0) {
            lines.push_back(line.substr(prefix.size()));
        }
    }
    return lines;
}

std::string SimProcess::dataSet(const std::string& name) const {
    return readFile(m_stateDir + "/" + name + ".bin");
}

std::string SimProcess::stderrText() const {
    return readFile(m_stateDir + "/sim.stderr");
}

} // namespace testsupport
