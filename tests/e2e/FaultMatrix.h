#pragma once

// One case of the fault matrix: a run of the real tool against a simulated
// site with one fault injected, and what the tool owes for it.

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace e2e {

// The run and the site it works on. Backups read the site's controller
// and modules; restores write a backup file made from another site.
enum class MatrixTask {
    Backup,        // -b
    MasterBackup,  // -b -m 2: module 2 only
    Restore,       // -r: the controller's data sets, then each module of the file
    FpmOnly,       // -r -o: the login check, then each module of the file
    OneToOne,      // -r -o -m 1 -t 2: module 1 of the file onto module 2
    OneToAll,      // -r -o -m 1: module 1 of the file onto every module at once
    MasterRestore, // -r of a file saved with master module 1: onto every module at once
};

// How far a run gets, which decides what the tool owes on its way out.
enum class MatrixReach {
    NoController, // no data connection: nothing changed anywhere
    Controller,   // ends in the controller half: the bus is never opened
    Login,        // the login check of --fpm-only fails: orderly logout, no bus
    NoBus,        // controller half done and logged out; the bus gateway refuses
    Bus,          // the bus was opened: the closing phase must follow
    BusCut,       // the gateway cut the bus connection: the closing phase on a new one
};

struct MatrixCase {
    std::string name;
    MatrixTask task = MatrixTask::Backup;
    std::string fpms = "1";           // modules on the simulated bus (--fpms)
    std::string fileFpms = "1";       // Restore, FpmOnly: the modules the file holds
    std::vector<std::string> simArgs; // the fault, as simulator options
    int status = 0;
    MatrixReach reach = MatrixReach::Bus;
    double faultSeconds = 0; // tool-clock seconds the fault may add
    int speedup = 20;
    int fileVersion = 107;      // Global.Version a successful backup writes
    std::string wrongCrc;       // the list a status of 9 (or 13) names
    std::string unfinished;     // modules a failed restore names as cleaned, not restored
    // A restore's file with these keys set to other values ("" drops the key).
    std::vector<std::pair<std::string, std::string>> fileEdits;
    bool controllerCut = false; // the controller closed the data connection itself
    bool faultUnfired = false;  // the run never makes the request the fault is for

    // Builder steps for the table.
    // clang-format off
    MatrixCase& on(std::string modules) { fpms = std::move(modules); return *this; }
    MatrixCase& holding(std::string modules) { fileFpms = std::move(modules); return *this; }
    MatrixCase& sim(std::vector<std::string> args);
    MatrixCase& data(const std::string& fault) { return sim({"--fault", fault}); }
    MatrixCase& bus(const std::string& fault) { return sim({"--bus-fault", fault}); }
    // The run never makes the request the fault is for: it must not fire.
    MatrixCase& unfired() { faultUnfired = true; return *this; }
    MatrixCase& ends(int exitStatus, MatrixReach how) { status = exitStatus; reach = how; return *this; }
    MatrixCase& waits(double seconds) { faultSeconds += seconds; return *this; }
    // Outcomes that hang on a reply arriving within a time-out run with
    // the clock compressed less, so that a loaded machine cannot turn a
    // prompt reply into a missing one.
    MatrixCase& patient() { speedup = 5; return *this; }
    MatrixCase& version(int number) { fileVersion = number; return *this; }
    MatrixCase& crcOf(std::string list) { wrongCrc = std::move(list); return *this; }
    MatrixCase& fileKey(std::string key, std::string value) { fileEdits.emplace_back(std::move(key), std::move(value)); return *this; }
    MatrixCase& cleanedNotRestored(std::string list) { unfinished = std::move(list); return *this; }
    // The controller closes the data connection itself: no close request can reach it.
    MatrixCase& controllerGone() { controllerCut = true; return *this; }
    // clang-format on

    bool isBackup() const { return task == MatrixTask::Backup || task == MatrixTask::MasterBackup; }
    bool fpmOnly() const {
        return task == MatrixTask::FpmOnly || task == MatrixTask::OneToOne ||
               task == MatrixTask::OneToAll;
    }
    // Restores that write every module at once through the group address.
    bool toAll() const { return task == MatrixTask::OneToAll || task == MatrixTask::MasterRestore; }
    std::vector<int> modules() const;     // the numbers of fpms
    std::vector<int> fileModules() const; // the modules a restore's file holds
    std::vector<std::string> taskArgs() const;

    // Seconds on the tool's clock a run of this case may take: its fixed
    // pauses and the time-outs of absent modules, plus what the fault adds.
    double toolSeconds() const;
    // The wall-clock bound: those seconds under the compression, plus time
    // for the real work (start-up and the template transfers) on a loaded
    // machine.
    double wallSecondsBound() const;
};

// The numbers of a list such as "1,2" ("none" and "" are empty).
std::vector<int> numbersOf(const std::string& list);

MatrixCase matrixCase(std::string name, MatrixTask task);

// The error line the tool documents for an exit status ("" for 0; for 9
// and 13 the line without the list of modules it ends with).
std::string documentedMessage(int status);

// Readable case names in test output.
std::ostream& operator<<(std::ostream& out, const MatrixCase& c);

} // namespace e2e
