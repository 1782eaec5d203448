#pragma once

#include "DataSets.h"
#include "Fault.h"

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sim {

// Everything the simulator is told on its command line.
struct Options {
    enum class RestoreAck { Type2, Header };

    std::string address = "127.0.0.1";
    bool allowRemote = false;
    unsigned char interfaceVersion = 107;
    std::string password = "service";
    std::string dataDir; // empty: generate the data sets
    uint64_t seed = 1;
    std::array<size_t, DataSets::kCount> sizes{{1200, 5000, 40, 16}};
    std::string stateDir;
    unsigned long lifetimeSeconds = 600;
    unsigned long delayMs = 0;
    bool refuse = false;
    RestoreAck restoreAck = RestoreAck::Type2;
    std::vector<Fault> faults; // --fault and --bus-fault, in the order given
    // The bus behind port 11575.
    std::vector<int> fpms{1, 2, 3};        // numbers of the modules present, ascending
    bool blankFpms = false;                // template areas start as all 0xFF
    std::map<int, std::string> fpmConfigs; // module number -> its 5 configuration bytes
    bool refuseBus = false;
    unsigned long busDelayMs = 0;
    // A hostile peer on both ports, its choices drawn from hostileSeed.
    bool hostile = false;
    uint64_t hostileSeed = 0;
    unsigned long clientSpeedup = 1; // the client's clock runs this much faster
    bool help = false;

    // Largest data block accepted in a frame or generated for a data set.
    static const uint32_t kMaxDataLength = 256 * 1024 * 1024;

    // Fills the options from argv (argv[0] is skipped); on failure the
    // message says what is wrong.
    static bool parse(const std::vector<std::string>& args, Options* options, std::string* error);

    static const char* usage();
};

} // namespace sim
