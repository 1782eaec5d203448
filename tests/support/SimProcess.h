#pragma once

#include "support/Process.h"
#include "support/TempDir.h"

#include <cstdint>
#include <string>
#include <vector>

namespace testsupport {

// One line of the simulator's events.log: when (monotonic milliseconds on
// the simulator's clock), on which port, and what: "open", "close" or
// "frame xx xx ...".
struct SimEvent {
    int64_t ms;
    int port;
    std::string what;
};

// The device simulator (TURSA_SIM_BIN) running for one test. Its stdout and
// stderr go to sim.stdout and sim.stderr in the state directory.
class SimProcess {
public:
    static const int kDataPort = 11574;
    static const int kBusPort = 11575;

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

    // The files of finger print module n as the simulator last wrote them:
    // its template area (62000 bytes), configuration and CRC (5 bytes each).
    std::string fpmTemplates(int n) const { return fpmFile(n, ".bin"); }
    std::string fpmConfig(int n) const { return fpmFile(n, ".cfg"); }
    std::string fpmCrc(int n) const { return fpmFile(n, ".crc"); }
    bool fpmProgMode(int n) const { return fpmFile(n, ".progmode") == "1"; }

    // Every line of events.log so far, in order.
    std::vector<SimEvent> events() const;
    // Whether an event on the port starts with the text ("close", "open").
    bool hasEvent(int port, const std::string& text) const;

    std::string stderrText() const { return readFile(m_stateDir + "/sim.stderr"); }
    Process& process() { return m_process; }

private:
    bool startOnce(const std::string& address, const std::vector<std::string>& extraArgs,
                   const std::string& stateDir);

    std::string fpmFile(int n, const char* suffix) const {
        return readFile(m_stateDir + "/fpm" + std::to_string(n) + suffix);
    }

    Process m_process; // stopped by its destructor
    std::string m_stateDir;
};

} // namespace testsupport
