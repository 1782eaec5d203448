#pragma once

#include "support/Process.h"
#include "support/TempDir.h"

#include <string>
#include <vector>

namespace testsupport {

// The device simulator (TURSA_SIM_BIN) running for one test. Its stdout and
// stderr go to sim.stdout and sim.stderr in the state directory.
class SimProcess {
public:
    static const int kDataPort = 11574;

    // Starts the simulator on the address with --state-dir stateDir and the
    // extra arguments, and waits up to 5 s for its ready file. False when
    // it does not get ready (it is stopped then).
    bool start(const std::string& address, const std::vector<std::string>& extraArgs,
               const std::string& stateDir);

    std::optional<int> stop() { return m_process.stop(); }

    // Lines of frames.log received on the port, without the port: "01 07 00".
    std::vector<std::string> frames(int port = kDataPort) const;

    // The bytes of a data set as the simulator last dumped them.
    std::string dataSet(const std::string& name) const {
        return readFile(m_stateDir + "/" + name + ".bin");
    }

    std::string stderrText() const { return readFile(m_stateDir + "/sim.stderr"); }
    Process& process() { return m_process; }

private:
    Process m_process; // stopped by its destructor
    std::string m_stateDir;
};

} // namespace testsupport
