// tursa-fleet: backs up every controller of an estate with TursaBackupCmd,
// keeps the history in a store, tells what failed, and restores from it.
#include "base/Logger.h"
#include "fleet/AtomicFile.h"
#include "fleet/ControllerFolder.h"
#include "fleet/FleetRun.h"
#include "fleet/FleetStore.h"
#include "fleet/Inventory.h"
#include "fleet/SignalWatch.h"
#include "fleet/StoreAudit.h"
#include "fleet/ToolCommand.h"
#include "fleet/UtcTime.h"
#include "store/FileManager.h"

#include <CLI/CLI.hpp>
#include <cctype>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

const int EXIT_USAGE = 2;
const int EXIT_STORE_IN_USE = 3;

struct Arguments {
    std::string inventory;
    std::string store;
    std::string tool = CToolCommand::defaultTool();
    std::string shard = "0/1";
    std::string olderThan;
    bool json = false;
    std::string name;
    std::string backup;
    std::vector<std::string> toolOptions;
    CFleetRun::Options run;
};

// "I/N" with 0 <= I < N <= 1000000.
bool parseShard(const std::string& text, unsigned* index, unsigned* count) {
    char* end = nullptr;
    const unsigned long i = strtoul(text.c_str(), &end, 10);
    if (!isdigit(static_cast<unsigned char>(text[0])) || *end != '/' || !isdigit(static_cast<unsigned char>(end[1]))) {
        return false;
    }
    const unsigned long n = strtoul(end + 1, &end, 10);
    if (*end != '\0' || n > 1000000 || i >= n) {
        return false;
    }
    *index = static_cast<unsigned>(i);
    *count = static_cast<unsigned>(n);
    return true;
}

std::string checkShard(const std::string& text) {
    unsigned index = 0, count = 0;
    return parseShard(text, &index, &count) ? "" : "not I/N with 0 <= I < N: " + text;
}

std::string checkDuration(const std::string& text) {
    long seconds = 0;
    return CUtcTime::parseDuration(text, &seconds) ? "" : "not a duration such as 26h, 90m or 7d: " + text;
}

bool loadInventory(const std::string& path, CInventory* inventory) {
    if (inventory->load(path)) {
        return true;
    }
    for (const std::string& error : inventory->errors()) {
        std::cerr << error << "\n";
    }
    return false;
}

int runFleet(Arguments& arguments) {
    CInventory inventory;
    if (!loadInventory(arguments.inventory, &inventory)) {
        return EXIT_USAGE;
    }
    if (access(arguments.tool.c_str(), X_OK) != 0) {
        std::cerr << "tursa-fleet: cannot run the tool " << arguments.tool << "\n";
        return EXIT_USAGE;
    }
    unsigned index = 0, count = 1;
    parseShard(arguments.shard, &index, &count);
    std::vector<CInventory::Controller> controllers;
    for (const CInventory::Controller& controller : inventory.controllers()) {
        if (CInventory::inShard(controller.name, index, count)) {
            controllers.push_back(controller);
        }
    }
    CFleetStore store(arguments.store);
    store.open(true);
    const long holder = store.lock();
    if (holder != 0) {
        std::cerr << "tursa-fleet: the store " << arguments.store << " is in use by another run (pid "
                  << (holder > 0 ? std::to_string(holder) : "unknown") << ")\n";
        return EXIT_STORE_IN_USE;
    }
    arguments.run.job.tool = arguments.tool;
    CFleetRun run(arguments.run, store, controllers);
    return run.run();
}

int showStatus(const Arguments& arguments) {
    long olderThan = -1;
    if (!arguments.olderThan.empty()) {
        CUtcTime::parseDuration(arguments.olderThan, &olderThan);
    }
    CFleetStore store(arguments.store);
    store.open(false);
    return CStoreAudit(store).status(arguments.json, olderThan);
}

int verifyStore(const Arguments& arguments) {
    CFleetStore store(arguments.store);
    store.open(false);
    return CStoreAudit(store).verify();
}

// The tool's status; a signal for tursa-fleet reaches the tool as SIGTERM.
int restoreController(const Arguments& arguments) {
    CInventory inventory;
    if (!loadInventory(arguments.inventory, &inventory)) {
        return EXIT_USAGE;
    }
    const CInventory::Controller* controller = inventory.find(arguments.name);
    if (controller == nullptr) {
        std::cerr << "tursa-fleet: " << arguments.name << " is not in " << arguments.inventory << "\n";
        return EXIT_USAGE;
    }
    CFleetStore store(arguments.store);
    store.open(false);
    CControllerFolder folder(store, arguments.name);
    folder.open();
    const std::string backup =
        arguments.backup.empty() ? folder.latest() : CControllerFolder::backupName(arguments.backup);
    if (backup.empty() || folder.size(backup) < 0) {
        std::cerr << "tursa-fleet: no backup " << (backup.empty() ? "latest" : backup) << " in "
                  << folder.path() << "\n";
        return 19;
    }
    const std::string damage = CStoreAudit::checksumProblem(folder, backup);
    if (!damage.empty()) {
        std::cerr << "tursa-fleet: " << folder.file(backup) << ": " << damage << "; not restored\n";
        return 7;
    }
    CSignalWatch signals;
    const pid_t tool = CChildProcess::spawn(
        CToolCommand::restore(arguments.tool, *controller, folder.file(backup), arguments.toolOptions));
    int waitStatus = 0;
    while (waitpid(tool, &waitStatus, WNOHANG) != tool) {
        for (int signal : signals.wait(-1)) {
            if (signal != SIGCHLD) {
                kill(-tool, SIGTERM);
            }
        }
    }
    return CChildProcess::exitStatusOf(waitStatus);
}

void addRunOptions(CLI::App* run, Arguments& arguments) {
    CFleetRun::Options& options = arguments.run;
    run->add_option("INVENTORY", arguments.inventory, "the controllers, one a line")->required();
    run->add_option("--store", arguments.store, "the store folder (created 0700 when missing)")->required();
    run->add_option("--jobs", options.jobs, "tools running at once (default 64)")->check(CLI::Range(1, 100000));
    run->add_option("--retries", options.job.retries, "attempts after a failure a later one may cure (default 2)")
        ->check(CLI::Range(0, 100));
    run->add_option("--retry-pause", options.job.retryPause, "seconds before a retry (default 300)")
        ->check(CLI::Range(0.0, 1e6));
    run->add_option("--keep", options.job.keep, "good backups kept per controller (default 30)")
        ->check(CLI::Range(1, 1000000));
    run->add_option("--shard", arguments.shard, "I/N: the controllers whose name hashes to I")->check(checkShard);
    run->add_option("--json", options.jsonPath, "the report as JSON into this file");
    run->add_option("--metrics", options.metricsPath, "metrics for the node exporter's textfile collector");
    run->add_option("--on-failure", options.onFailure, "run by /bin/sh -c after a controller failed");
    run->add_option("--timeout", options.job.timeout, "seconds a tool may take (default 900)")
        ->check(CLI::Range(1.0, 1e7));
    run->add_option("--tool", arguments.tool, "the TursaBackupCmd to run");
}

void addRestoreOptions(CLI::App* restore, Arguments& arguments) {
    restore->add_option("INVENTORY", arguments.inventory, "the controllers, one a line")->required();
    restore->add_option("NAME", arguments.name, "the controller to restore")->required();
    restore->add_option("TOOL-OPTIONS", arguments.toolOptions, "after --: passed to the tool (-o, -m N, -t N)");
    restore->add_option("--store", arguments.store, "the store folder")->required();
    restore->add_option("--backup", arguments.backup, "the backup YYYYMMDDTHHMMSSZ (default: latest)")
        ->check([](const std::string& text) { return CUtcTime::isCompact(text) ? "" : "not YYYYMMDDTHHMMSSZ: " + text; });
    restore->add_option("--tool", arguments.tool, "the TursaBackupCmd to run");
}

// The subcommand's exit status.
int dispatch(int argc, char** argv) {
    Arguments arguments;
    CLI::App app{"Backs up every controller of an inventory with TursaBackupCmd into a store.", "tursa-fleet"};
    app.require_subcommand(1);
    CLI::App* run = app.add_subcommand("run", "back up every controller of the inventory (or shard)");
    addRunOptions(run, arguments);
    CLI::App* status = app.add_subcommand("status", "each controller's last success and result");
    status->add_option("--store", arguments.store, "the store folder")->required();
    status->add_option("--older-than", arguments.olderThan, "exit 1 when a last success is older (26h, 90m, 7d) or missing")
        ->check(checkDuration);
    status->add_flag("--json", arguments.json, "print a JSON array");
    CLI::App* verify = app.add_subcommand("verify", "re-hash and check every kept backup");
    verify->add_option("--store", arguments.store, "the store folder")->required();
    CLI::App* restore = app.add_subcommand("restore", "restore latest (or --backup) into the controller");
    addRestoreOptions(restore, arguments);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? 0 : EXIT_USAGE;
    }
    // The store's own messages about a file it cannot read would repeat ours.
    CLogger::getInstance()->setLevel(0);
    return *run      ? runFleet(arguments)
           : *status ? showStatus(arguments)
           : *verify ? verifyStore(arguments)
                     : restoreController(arguments);
}

} // namespace

int main(int argc, char** argv) {
    signal(SIGPIPE, SIG_IGN);
    int result = 1;
    try {
        result = dispatch(argc, argv);
    } catch (const std::exception& error) {
        std::cerr << "tursa-fleet: " << error.what() << "\n";
    }
    CFileManager::Destroy();
    CLogger::Destroy();
    return result;
}
