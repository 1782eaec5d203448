#pragma once

#include <map>
#include <string>
#include <vector>

namespace testsupport {
class SimProcess;
}

namespace e2e {

// The controller's data sets, in the order a backup saves them.
extern const char* const SET_NAMES[4];

// The order in which the tool lists the keys of a backup file: they form a
// search tree in the order they were first written, walked node, greater
// keys, smaller keys.
std::vector<std::string> listingOrder(const std::vector<std::string>& insertionOrder);

// What one module holds, as the simulator dumps it.
struct Module {
    std::string templates;
    std::string config;
    std::string crc;
};

// What a simulated site holds: its data sets by name, and the modules given.
std::map<std::string, std::string> siteSets(const testsupport::SimProcess& site);
std::map<int, Module> siteModules(const testsupport::SimProcess& site, const std::vector<int>& numbers);

// The backup file a complete run must write: the controller's data sets
// (by name), then FPM0.MASTER and the keys of each module, in the order a
// backup writes them, with Base64 made by an encoder independent of the tool's.
std::string expectedBackup(int version, const std::map<std::string, std::string>& sets,
                           int masterAddress, const std::map<int, Module>& modules);

// The key=value pairs of a backup file.
std::map<std::string, std::string> parseBackup(const std::string& text);

// The bytes a Base64 text stands for, decoded by coreutils.
std::string unbase64(const std::string& text);

} // namespace e2e
