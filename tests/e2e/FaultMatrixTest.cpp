// Every fault the simulator can inject, in every phase of a backup and of a
// restore, one real run of the tool each: the exit status it documents,
// the end within its time-outs, the backup file, and the way out of the
// run (the closing phase on the bus, the orderly logout on the controller).
#include "e2e/BackupFile.h"
#include "e2e/ToolRun.h"
#include "support/Loopback.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <iterator>
#include <map>
#include <ostream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

// One case of the matrix: a run of the real tool against a simulated site
// with one fault injected, and what the tool owes for it.
namespace e2e {


// The numbers of a list such as "1,2" ("none" and "" are empty).
std::vector<int> numbersOf(const std::string& list) {
    std::vector<int> numbers;
    if (list == "none") {
        return numbers;
    }
    std::istringstream in(list);
    for (std::string part; std::getline(in, part, ',');) {
        numbers.push_back(std::stoi(part));
    }
    return numbers;
}


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
    MatrixCase& sim(const std::vector<std::string>& args) { simArgs.insert(simArgs.end(), args.begin(), args.end()); return *this; }
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
    std::vector<int> modules() const { return numbersOf(fpms); } // the numbers of fpms
    // The modules a restore's file holds.
    std::vector<int> fileModules() const {
        const bool chosen = task == MatrixTask::Restore || task == MatrixTask::FpmOnly || task == MatrixTask::OneToOne;
        return chosen ? numbersOf(fileFpms) : std::vector<int>{1};
    }
    std::vector<std::string> taskArgs() const {
        static const std::map<MatrixTask, std::vector<std::string>> args = {
            {MatrixTask::Backup, {"--backup"}}, {MatrixTask::MasterBackup, {"--backup", "--fpm-from", "2"}},
            {MatrixTask::Restore, {"--restore"}}, {MatrixTask::MasterRestore, {"--restore"}},
            {MatrixTask::FpmOnly, {"--restore", "--fpm-only"}},
            {MatrixTask::OneToOne, {"--restore", "--fpm-only", "--fpm-from", "1", "--fpm-to", "2"}},
            {MatrixTask::OneToAll, {"--restore", "--fpm-only", "--fpm-from", "1"}}};
        return args.at(task);
    }

    // Seconds on the tool's clock a run of this case may take: its fixed
    // pauses and the time-outs of absent modules, plus what the fault adds.
    double toolSeconds() const;
    // The wall-clock bound: those seconds under the compression, plus time
    // for the real work (start-up and the template transfers) on a loaded
    // machine.
    double wallSecondsBound() const;
};


namespace {

// The tool's fixed pauses and time-outs, in seconds of its own clock.
const double PAUSE_AFTER_CONNECT = 2;
const double CLOSE_ACK_TIMEOUT = 1;
const double PAUSE_BEFORE_BUS = 70;
const double PAUSE_AFTER_BUS_CONNECT = 5;
const double PROG_MODE_TELEGRAMS = 3 * 0.5; // three telegrams, 500 ms after each
const double GROUP_REPLY_WAIT = 0.3;        // a telegram to every module needs no reply
const double LOOKUP_TIMEOUT = 1;            // an absent module costs one identification time-out
const double PAUSE_AFTER_TEMPLATES = 2;
const double PAUSE_AFTER_CLEAN = 10;
const double PAUSE_AFTER_CLEAN_ALL = 20;
const int TEMPLATE_BLOCKS = 485;

// Wall-clock allowance for what no compression shortens: starting the
// tool, the loopback exchanges of a template transfer (970 of them) and
// the file writes, on a machine that runs other tests at the same time.
const double START_ALLOWANCE = 5;
const double TRANSFER_ALLOWANCE = 2;


} // namespace

MatrixCase matrixCase(std::string name, MatrixTask task) {
    MatrixCase c;
    c.name = std::move(name);
    c.task = task;
    if (task == MatrixTask::MasterBackup || task == MatrixTask::OneToOne ||
        task == MatrixTask::OneToAll || task == MatrixTask::MasterRestore) {
        c.fpms = "1,2";
    }
    if (task == MatrixTask::OneToOne) {
        c.fileFpms = "1,2"; // the destination's configuration comes from its own key
    }
    return c;
}

double MatrixCase::toolSeconds() const {
    double seconds = faultSeconds;
    if (reach == MatrixReach::NoController) {
        return seconds;
    }
    seconds += PAUSE_AFTER_CONNECT + CLOSE_ACK_TIMEOUT;
    if (reach == MatrixReach::Controller || reach == MatrixReach::Login) {
        return seconds;
    }
    seconds += PAUSE_BEFORE_BUS;
    if (reach == MatrixReach::NoBus) {
        return seconds;
    }
    seconds += PAUSE_AFTER_BUS_CONNECT + 2 * PROG_MODE_TELEGRAMS + GROUP_REPLY_WAIT;
    // An absent module is asked for three times in every scan.
    const double absent = 3 * (8.0 - static_cast<double>(modules().size()));
    if (isBackup()) {
        const double saved =
            task == MatrixTask::MasterBackup ? 1 : static_cast<double>(modules().size());
        return seconds + absent * LOOKUP_TIMEOUT + saved * PAUSE_AFTER_TEMPLATES;
    }
    // Each restore looks for the modules once; a single-module restore
    // once more for its destination, a restore onto every module also
    // before the clean (the CRC check takes the modules cleaned).
    const double scans = task == MatrixTask::OneToOne || toAll() ? 2 : 1;
    seconds += scans * absent * LOOKUP_TIMEOUT;
    if (toAll()) {
        return seconds + PAUSE_AFTER_CLEAN_ALL + PAUSE_AFTER_TEMPLATES +
               (TEMPLATE_BLOCKS + 1) * GROUP_REPLY_WAIT;
    }
    const double targets =
        task == MatrixTask::OneToOne ? 1 : static_cast<double>(fileModules().size());
    return seconds + targets * (PAUSE_AFTER_CLEAN + PAUSE_AFTER_TEMPLATES);
}

double MatrixCase::wallSecondsBound() const {
    double transfers = 0;
    if (reach == MatrixReach::Bus || reach == MatrixReach::BusCut) {
        transfers = task == MatrixTask::Backup ? static_cast<double>(modules().size())
                    : task == MatrixTask::Restore || task == MatrixTask::FpmOnly
                        ? static_cast<double>(fileModules().size())
                        : 1;
    }
    return toolSeconds() / speedup + START_ALLOWANCE + transfers * TRANSFER_ALLOWANCE;
}

// The error line the tool documents for an exit status ("" for 0; for 9
// and 13 the line without the list of modules it ends with).
std::string documentedMessage(int status) {
    static const std::map<int, std::string> messages = {
        {1, "Could not open network connection."},
        {2, "Unkown interface version."},
        {3, "Wrong password."},
        {7, "Backup file is corrupt."},
        {8, "Could not restore data."},
        {9, "One ore more FPM has a wrong CRC. ["},
        {10, "FPM 1 changed during the backup."},
        {11, "Network unreachable."},
        {12, "Backup file version not compatible."},
        {13, "One or more FPM is not on the bus and was not restored. ["},
        {14, "Communication error."},
        {15, "No FPM found."},
        {17, "Unkown source FPM."},
        {18, "Destination FPM not found."},
        {19, "Could not open backup file."},
    };
    auto found = messages.find(status);
    return found == messages.end() ? "" : found->second;
}

// Readable case names in test output.
std::ostream& operator<<(std::ostream& out, const MatrixCase& c) {
    return out << c.name;
}

} // namespace e2e

using e2e::MatrixCase;
using e2e::MatrixReach;
using e2e::MatrixTask;
using e2e::Module;
using testsupport::SimEvent;
using testsupport::SimProcess;

namespace {

const char* const EARLIER_BACKUP = "Global.Version=107\nprevious=site\n\n";
// The closing phase on the bus: programming mode off to every device,
// three times, then the bus reset to every module.
const char* const PROG_MODE_OFF = "01 01 06 00 02 ff 08 f0 09 03";
const char* const BUS_RESET = "01 01 06 00 02 cf 01 f0 40 03";
const char* const LOGOUT = "01 03 00";

std::vector<std::string> moduleList(const std::vector<int>& numbers) {
    std::string list;
    for (int number : numbers) {
        list += (list.empty() ? "" : ",") + std::to_string(number);
    }
    return {"--fpms", list.empty() ? "none" : list};
}

bool sameModule(const Module& a, const Module& b) {
    return a.templates == b.templates && a.config == b.config && a.crc == b.crc;
}

std::vector<SimEvent> onPort(const std::vector<SimEvent>& events, int port) {
    std::vector<SimEvent> selected;
    std::copy_if(events.begin(), events.end(), std::back_inserter(selected),
                 [port](const SimEvent& event) { return event.port == port; });
    return selected;
}

// Whether the simulator has logged the end of every connection it accepted.
bool allClosed(const std::vector<SimEvent>& events) {
    int open = 0;
    for (const SimEvent& event : events) {
        open += event.what == "open" ? 1 : event.what == "close" ? -1 : 0;
    }
    return open == 0;
}

class E2eFaultMatrix : public ::testing::TestWithParam<MatrixCase> {
protected:
    std::string address = testsupport::reserveLoopbackAddress();
    testsupport::TempDir dir;
    // The backup file alone in its folder, so that whatever the run
    // leaves beside it shows.
    std::string siteFolder = dir.file("site");
    std::string backupFile = siteFolder + "/site.bak";
    SimProcess sim;

    // Before the run: the file the tool is given, and the site's state.
    std::string fileBefore;
    std::map<std::string, std::string> fileSets;
    std::map<int, Module> fileModules;
    std::map<std::string, std::string> setsBefore;
    std::map<int, Module> modulesBefore;

    void SetUp() override {
        ASSERT_FALSE(address.empty()) << "no free loopback address";
        ASSERT_EQ(mkdir(siteFolder.c_str(), 0700), 0);
    }

    // A restore's file, saved from another site with the same module
    // configuration and other data sets than the site it is written to.
    void writeRestoreFile(const MatrixCase& c) {
        SimProcess source;
        std::vector<std::string> args = {"--password", "pw",      "--seed",
                                         "7",          "--sizes", "64,32,8,16"};
        const auto numbers = c.fileModules();
        const auto fpms = moduleList(numbers);
        args.insert(args.end(), fpms.begin(), fpms.end());
        ASSERT_TRUE(source.start(address, args, dir.file("source"))) << "source site not ready";
        fileSets = e2e::siteSets(source);
        fileModules = e2e::siteModules(source, numbers);
        source.stop();
        const int master = c.task == MatrixTask::MasterRestore ? 0xC1 : 0xC0;
        fileBefore = edited(e2e::expectedBackup(107, fileSets, master, fileModules), c.fileEdits);
        ASSERT_TRUE(testsupport::writeFile(backupFile, fileBefore));
    }

    // The file's lines with the edits applied: a value replaced, a line
    // dropped for "", a new key added before the closing empty line.
    static std::string edited(const std::string& file,
                              const std::vector<std::pair<std::string, std::string>>& edits) {
        std::vector<std::string> lines = e2e::splitLines(file);
        for (const auto& [key, value] : edits) {
            auto line = std::find_if(lines.begin(), lines.end(), [&key](const std::string& l) {
                return l.rfind(key + "=", 0) == 0;
            });
            if (line == lines.end()) {
                line = lines.insert(lines.end() - 1, key + "=" + value);
            }
            if (value.empty()) {
                lines.erase(line);
            } else {
                *line = key + "=" + value;
            }
        }
        std::string text;
        for (const std::string& line : lines) {
            text += line + "\n";
        }
        return text;
    }

    void startSite(const MatrixCase& c) {
        std::vector<std::string> args = {"--password", "pw", "--fpms", c.fpms};
        if (c.isBackup()) {
            args.insert(args.end(), {"--seed", "3", "--sizes", "64,32,8,16"});
        } else {
            args.insert(args.end(), {"--seed", "7", "--sizes", "60,30,6,12", "--blank-fpms"});
        }
        args.insert(args.end(), c.simArgs.begin(), c.simArgs.end());
        ASSERT_TRUE(sim.start(address, args, dir.file("sim"))) << "simulator not ready";
        setsBefore = e2e::siteSets(sim);
        modulesBefore = e2e::siteModules(sim, c.modules());
    }

    // Every fault the case gives hit a reply (the simulator logs
    // "fault KIND:WHICH:N" when it does): a fault that never fires proves nothing.
    void checkFaultsFired(const MatrixCase& c, const std::vector<SimEvent>& events) {
        for (size_t i = 0; i + 1 < c.simArgs.size(); ++i) {
            const bool data = c.simArgs[i] == "--fault";
            if (!data && c.simArgs[i] != "--bus-fault") {
                continue;
            }
            const std::string& spec = c.simArgs[i + 1];
            const size_t third = spec.find(':', spec.find(':', spec.find(':') + 1) + 1);
            const std::string fired = "fault " + spec.substr(0, third);
            const int port = data ? SimProcess::kDataPort : SimProcess::kBusPort;
            const bool found = std::any_of(events.begin(), events.end(), [&](const SimEvent& e) {
                return e.port == port && e.what == fired;
            });
            EXPECT_EQ(found, !c.faultUnfired) << spec << (found ? " fired" : " never fired");
        }
    }

    // The error lines of a failed run end with the documented message; a
    // failed backup names what it collected in one more line.
    void checkMessages(const MatrixCase& c, const e2e::ToolResult& result) {
        std::vector<std::string> lines = e2e::splitLines(result.err);
        const std::string partialLine = "Partial backup kept in " + backupFile + ".partial";
        if (c.isBackup() && !lines.empty() &&
            lines.back().rfind("Partial backup kept in ", 0) == 0) {
            EXPECT_EQ(lines.back(), partialLine);
            EXPECT_TRUE(e2e::exists(backupFile + ".partial")) << "the partial file it names";
            EXPECT_NE(c.status, 0) << "a successful backup keeps no partial file";
            lines.pop_back();
        }
        // A failed restore names the modules it cleaned and did not write again.
        std::string unfinished;
        const std::string cleanedLine = " was cleaned and not restored";
        while (!lines.empty() && lines.back().size() > cleanedLine.size() &&
               lines.back().compare(lines.back().size() - cleanedLine.size(), cleanedLine.size(),
                                    cleanedLine) == 0) {
            const std::string number = lines.back().substr(4, lines.back().size() - 4 -
                                                                  cleanedLine.size());
            unfinished = number + (unfinished.empty() ? "" : "," + unfinished);
            lines.pop_back();
        }
        EXPECT_EQ(unfinished, c.unfinished) << "modules named as cleaned and not restored";
        if (c.status == 0) {
            EXPECT_EQ(result.err, "") << "no error line";
            EXPECT_TRUE(!c.isBackup() || result.out.find("Backup of the controller finished.\n") != std::string::npos);
            return;
        }
        ASSERT_FALSE(lines.empty()) << "no error message";
        if (c.status == 9 || c.status == 13) {
            EXPECT_EQ(lines.back(), e2e::documentedMessage(c.status) + c.wrongCrc + "]");
        } else {
            EXPECT_EQ(lines.back(), e2e::documentedMessage(c.status));
        }
    }

    void checkBackupFile(const MatrixCase& c, const e2e::ToolResult& result) {
        const std::string file = testsupport::readFile(backupFile);
        if (!c.isBackup()) {
            EXPECT_TRUE(file == fileBefore) << "a restore never writes to its file";
            EXPECT_EQ(testsupport::namesIn(siteFolder, {"site.bak"}), std::vector<std::string>{});
            return;
        }
        EXPECT_EQ(testsupport::namesIn(siteFolder, {"site.bak", "site.bak.partial"}),
                  std::vector<std::string>{})
            << "no temporary file is left";
        std::map<int, Module> saved = modulesBefore;
        int master = 0xC0;
        if (c.task == MatrixTask::MasterBackup) {
            saved.clear();
            if (modulesBefore.count(2)) {
                saved[2] = modulesBefore.at(2);
            }
            master = 0xC2;
        }
        const std::string complete = e2e::expectedBackup(c.fileVersion, setsBefore, master, saved);
        if (result.status != 0) {
            EXPECT_EQ(file, EARLIER_BACKUP) << "a failed backup keeps the earlier file";
            checkPartial(e2e::parseBackup(complete));
            return;
        }
        EXPECT_FALSE(e2e::exists(backupFile + ".partial"));
        EXPECT_TRUE(file == complete)
            << "not the new complete backup: " << e2e::parseBackup(file).size() << " keys";
    }

    // A failed backup's partial file (mode 0600) holds only what the site
    // sent: values as the complete backup has them, templates up to where
    // the transfer stopped.
    void checkPartial(const std::map<std::string, std::string>& complete) {
        const std::string partial = backupFile + ".partial";
        struct stat info;
        if (stat(partial.c_str(), &info) != 0) {
            return;
        }
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        const auto entries = e2e::parseBackup(testsupport::readFile(partial));
        for (const auto& [key, value] : entries) {
            const size_t dot = key.find('.');
            const std::string field = key.substr(dot + 1);
            if (field == "Data" && key.rfind("FPM", 0) == 0) {
                const std::string collected = e2e::unbase64(value);
                EXPECT_EQ(entries.at(key.substr(0, dot) + ".DataLength"), std::to_string(collected.size()));
                EXPECT_TRUE(collected == e2e::unbase64(complete.at(key)).substr(0, collected.size()))
                    << key << " holds bytes the module did not send";
            } else if (!(field == "DataLength" && key.rfind("FPM", 0) == 0)) {
                EXPECT_EQ(value, complete.count(key) ? complete.at(key) : "<absent>") << key;
            }
        }
    }

    // What the site holds after the run.
    void checkSite(const MatrixCase& c, const e2e::ToolResult& result) {
        const auto after = e2e::siteModules(sim, c.modules());
        if (c.isBackup()) {
            // Each block is echoed back: only what was read from the module.
            for (const auto& [number, module] : modulesBefore) {
                EXPECT_TRUE(after.at(number).templates == module.templates)
                    << "the backup changed FPM " << number;
            }
            return;
        }
        const auto sets = e2e::siteSets(sim);
        if (c.fpmOnly()) {
            EXPECT_EQ(sets, setsBefore) << "--fpm-only leaves the controller's data sets alone";
            for (const std::string& frame : sim.frames(SimProcess::kDataPort)) {
                EXPECT_NE(frame.rfind("01 01", 0), 0u)
                    << "a data set was sent: " << frame.substr(0, 20);
            }
        }
        if (c.reach != MatrixReach::Bus && c.reach != MatrixReach::BusCut) {
            for (const auto& [number, module] : modulesBefore) {
                EXPECT_TRUE(sameModule(after.at(number), module))
                    << "FPM " << number << " changed, though the bus was never opened";
            }
        }
        // Status 13 restored the modules that are there.
        if (result.status != 0 && result.status != 13) {
            return;
        }
        if (!c.fpmOnly()) {
            EXPECT_EQ(sets, fileSets) << "the file's data sets restored";
        }
        // Which module of the file each module on the bus must now hold;
        // those a status of 13 names are left alone.
        const std::vector<int> notRestored =
            result.status == 13 ? e2e::numbersOf(c.wrongCrc) : std::vector<int>{};
        std::map<int, int> expected;
        for (int number : c.modules()) {
            if (std::find(notRestored.begin(), notRestored.end(), number) != notRestored.end()) {
                continue;
            } else if (c.toAll()) {
                expected[number] = 1;
            } else if (c.task == MatrixTask::OneToOne) {
                expected[2] = 1;
            } else if (fileModules.count(number)) {
                expected[number] = number;
            }
        }
        for (int number : c.modules()) {
            if (expected.count(number)) {
                const Module& source = fileModules.at(expected[number]);
                EXPECT_TRUE(after.at(number).templates == source.templates)
                    << "FPM " << number << " does not hold the templates of the file's FPM "
                    << expected[number];
                EXPECT_EQ(after.at(number).crc, source.crc) << "FPM " << number;
            } else {
                EXPECT_TRUE(sameModule(after.at(number), modulesBefore.at(number)))
                    << "FPM " << number << " is not to be restored";
            }
        }
    }

    // The controller connection ends with the close request, and the
    // connection is closed before the bus is opened.
    void checkLogout(const MatrixCase& c, const std::vector<SimEvent>& events) {
        size_t lastFrame = events.size();
        size_t firstBus = events.size();
        for (size_t i = 0; i < events.size(); ++i) {
            if (events[i].port == SimProcess::kDataPort && events[i].what.rfind("frame ", 0) == 0) {
                lastFrame = i;
            }
            if (events[i].port == SimProcess::kBusPort && firstBus == events.size()) {
                firstBus = i;
            }
        }
        ASSERT_LT(lastFrame, events.size()) << "no request on the controller connection";
        if (!c.controllerCut) {
            EXPECT_EQ(events[lastFrame].what, std::string("frame ") + LOGOUT)
                << "the last request is the logout";
        }
        auto close = std::find_if(
            events.begin() + static_cast<long>(lastFrame), events.end(),
            [](const SimEvent& e) { return e.port == SimProcess::kDataPort && e.what == "close"; });
        ASSERT_NE(close, events.end()) << "the controller connection is never closed";
        EXPECT_LT(static_cast<size_t>(close - events.begin()), firstBus)
            << "the controller connection is still open when the bus is opened";
    }

    // Programming mode off, the bus reset, then the tool closes the bus
    // connection; no module stays in programming mode.
    void checkClosingPhase(const MatrixCase& c, const std::vector<SimEvent>& events) {
        const auto bus = onPort(events, SimProcess::kBusPort);
        ASSERT_GE(bus.size(), 5u) << "no closing phase";
        const std::vector<std::string> tail = {bus[bus.size() - 5].what, bus[bus.size() - 4].what,
                                               bus[bus.size() - 3].what, bus[bus.size() - 2].what,
                                               bus.back().what};
        const std::string off = std::string("frame ") + PROG_MODE_OFF;
        EXPECT_EQ(tail, (std::vector<std::string>{off, off, off, std::string("frame ") + BUS_RESET,
                                                  "close"}));
        for (int number : c.modules()) {
            EXPECT_FALSE(sim.fpmProgMode(number))
                << "FPM " << number << " left in programming mode";
        }
    }

    // The tool has ended, so its connections are closed; the simulator
    // logs that (and writes its last module state) a moment later.
    std::vector<SimEvent> settledEvents() const {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        auto events = sim.events();
        while (!allClosed(events) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            events = sim.events();
        }
        return events;
    }

    void checkWayOut(const MatrixCase& c, const std::vector<SimEvent>& events) {
        const auto bus = onPort(events, SimProcess::kBusPort);
        switch (c.reach) {
        case MatrixReach::NoController:
            EXPECT_TRUE(std::none_of(events.begin(), events.end(),
                                     [](const SimEvent& e) { return e.what == "open"; }))
                << "a connection was opened";
            break;
        case MatrixReach::Controller:
            EXPECT_TRUE(bus.empty()) << "the bus is opened after the controller half failed";
            break;
        case MatrixReach::Login:
            EXPECT_TRUE(bus.empty()) << "the bus is opened after the login check failed";
            checkLogout(c, events);
            break;
        case MatrixReach::NoBus:
            EXPECT_TRUE(bus.empty());
            checkLogout(c, events);
            break;
        case MatrixReach::Bus:
            checkLogout(c, events);
            checkClosingPhase(c, events);
            break;
        case MatrixReach::BusCut:
            checkLogout(c, events);
            EXPECT_EQ(std::count_if(bus.begin(), bus.end(),
                                    [](const SimEvent& e) { return e.what == "open"; }),
                      2)
                << "the closing phase on a second bus connection";
            checkClosingPhase(c, events);
            break;
        }
    }
};

} // namespace

TEST_P(E2eFaultMatrix, Run) {
    const MatrixCase& c = GetParam();
    if (c.isBackup()) {
        ASSERT_TRUE(testsupport::writeFile(backupFile, EARLIER_BACKUP));
    } else {
        ASSERT_NO_FATAL_FAILURE(writeRestoreFile(c));
    }
    ASSERT_NO_FATAL_FAILURE(startSite(c));

    std::vector<std::string> args = c.taskArgs();
    args.insert(args.end(), {"-i", address, "-p", "pw", "-f", backupFile, "-v", "2"});
    const double bound = c.wallSecondsBound();
    const auto start = std::chrono::steady_clock::now();
    const auto result =
        e2e::runTool(args, dir.path(), true, static_cast<int>(bound * 2000), c.speedup);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    EXPECT_FALSE(result.status <= -1000) << "ended by signal " << -1000 - result.status;
    EXPECT_EQ(result.status, c.status) << result.out << result.err;
    EXPECT_LE(seconds, bound) << "the run took longer than its pauses and time-outs ("
                              << c.toolSeconds() << " s on the tool's clock)";
    const auto events = settledEvents();
    EXPECT_TRUE(allClosed(events)) << "a connection outlives the tool";
    checkFaultsFired(c, events);
    checkMessages(c, result);
    checkBackupFile(c, result);
    checkSite(c, result);
    checkWayOut(c, events);
}

namespace {

using R = MatrixReach;

MatrixCase B(const std::string& name) { return e2e::matrixCase("Backup_" + name, MatrixTask::Backup); }
MatrixCase MB(const std::string& name) { return e2e::matrixCase("MasterBackup_" + name, MatrixTask::MasterBackup); }
MatrixCase RS(const std::string& name) { return e2e::matrixCase("Restore_" + name, MatrixTask::Restore); }
MatrixCase FO(const std::string& name) { return e2e::matrixCase("FpmOnly_" + name, MatrixTask::FpmOnly); }
MatrixCase OO(const std::string& name) { return e2e::matrixCase("OneToOne_" + name, MatrixTask::OneToOne); }
MatrixCase OA(const std::string& name) { return e2e::matrixCase("OneToAll_" + name, MatrixTask::OneToAll); }
MatrixCase MR(const std::string& name) { return e2e::matrixCase("MasterRestore_" + name, MatrixTask::MasterRestore); }

// clang-format off
// The controller's faults: the version request (type 7), the login (type 9),
// the data sets (type 0 on a backup, 1 on a restore) and the close request (type 3).
// A restore shares the version, login and close code with a backup: only what differs is here.
void addControllerCases(std::vector<MatrixCase>* c) {
    c->push_back(B("Connect_Refused").sim({"--refuse"}).ends(1, R::NoController).waits(20));
    c->push_back(B("Connect_SlowController").sim({"--delay", "50"}).ends(0, R::Bus).waits(10));
    c->push_back(B("Version_NoReply").data("noreply:7:1").ends(2, R::Controller).waits(120));
    c->push_back(B("Version_LateWithinTimeout").data("late:7:1:1000").ends(0, R::Bus).waits(20));
    c->push_back(B("Version_ErrorResponse").data("error:7:1").ends(2, R::Controller));
    c->push_back(B("Version_ClosedWithoutReply").data("close:7:1:0").ends(2, R::Controller));
    c->push_back(B("Version_Trickled").data("trickle:7:1:20").ends(0, R::Bus).waits(2));
    // A reply whose data id is altered reports another version: the file records it.
    c->push_back(B("Version_Altered").data("garbage:7:1").ends(0, R::Bus).version(108));
    c->push_back(B("Version_Zero").sim({"--interface-version", "0"}).ends(2, R::Controller));
    // Version 106 has no login: the silent login reply is never asked for. An empty data set is saved.
    c->push_back(B("Version106_NoLogin").sim({"--interface-version", "106", "--sizes", "64,0,8,16", "--fault", "noreply:9:1"}).ends(0, R::Bus).version(106).unfired());
    // The version reply comes, then the controller falls silent: the login gets no reply.
    c->push_back(B("Version_ThenSilence").data("truncate:7:1:0").ends(3, R::Controller).waits(120));
    c->push_back(B("Password_NoReply").data("noreply:9:1").ends(3, R::Controller).waits(120));
    c->push_back(B("Password_ErrorResponse").data("error:9:1").ends(3, R::Controller));
    c->push_back(B("Password_Altered").data("garbage:9:1").ends(3, R::Controller));
    c->push_back(B("Password_LateWithinTimeout").data("late:9:1:1000").ends(0, R::Bus).waits(20));
    c->push_back(B("Password_Refused").sim({"--password", "other"}).ends(3, R::Controller));
    c->push_back(B("Password_ThenSilence").data("truncate:9:1:0").ends(11, R::Controller).waits(120));
    // Data sets of 64, 32, 8 and 16 bytes: the first, and the last for what ends the run.
    c->push_back(B("DataSet1_NoReply").data("noreply:0:1").ends(11, R::Controller).waits(120));
    c->push_back(B("DataSet1_Truncated").data("truncate:0:1:4").ends(14, R::Controller).waits(60));
    c->push_back(B("DataSet1_ErrorResponse").data("error:0:1").ends(14, R::Controller));
    c->push_back(B("DataSet1_ClosedInHeader").data("close:0:1:3").ends(11, R::Controller));
    c->push_back(B("DataSet1_ClosedInData").data("close:0:1:10").ends(14, R::Controller));
    c->push_back(B("DataSet1_OtherSet").data("garbage:0:1").ends(14, R::Controller));
    c->push_back(B("DataSet1_LateWithinTimeout").data("late:0:1:1000").ends(0, R::Bus).waits(20));
    c->push_back(B("DataSet1_Trickled").data("trickle:0:1:2").ends(0, R::Bus).waits(4));
    // One byte a second (20 s on the tool's clock, inside the 60 s per read): without a bound on the
    // whole reply the set would take 20 minutes; the tool gives up after 10 minutes of its clock.
    c->push_back(B("DataSet1_TrickledPastTheBound").data("trickle:0:1:1000").ends(14, R::Controller).waits(800));
    c->push_back(B("DataSet4_NoReply").data("noreply:0:4").ends(11, R::Controller).waits(120));
    c->push_back(B("DataSet4_OtherSet").data("garbage:0:4").ends(14, R::Controller));
    // The error response that carries the requested set's own id.
    c->push_back(B("DataSet3_ErrorResponseOfItsId").data("error:0:3:2").ends(14, R::Controller));
    c->push_back(B("Logout_NoAck").data("noreply:3:1").ends(0, R::Bus).waits(1));
    c->push_back(B("Logout_ClosedWithoutAck").data("close:3:1:0").ends(0, R::Bus));
    c->push_back(B("Logout_AckAltered").data("garbage:3:1").ends(0, R::Bus));

    c->push_back(RS("Connect_Refused").sim({"--refuse"}).ends(1, R::NoController).waits(20));
    c->push_back(RS("Version_OtherThanFile").sim({"--interface-version", "108"}).ends(12, R::Controller));
    c->push_back(RS("Version_Altered").data("garbage:7:1").ends(12, R::Controller));
    c->push_back(RS("Password_Refused").sim({"--password", "other"}).ends(3, R::Controller));
    c->push_back(RS("DataSet4_NoReply").data("noreply:1:4").ends(0, R::Bus).waits(120));
    // A restore frame without a reply counts as accepted.
    c->push_back(RS("DataSet1_NoReply").data("noreply:1:1").ends(0, R::Bus).waits(120));
    c->push_back(RS("DataSet1_Refused").data("error:1:1").ends(8, R::Controller));
    // The acknowledgement with its data id altered reads as an error response.
    c->push_back(RS("DataSet1_AckAltered").data("garbage:1:1").ends(8, R::Controller));
    c->push_back(RS("DataSet1_LateWithinTimeout").data("late:1:1:1000").ends(0, R::Bus).waits(20));
    c->push_back(RS("DataSet1_Trickled").data("trickle:1:1:20").ends(0, R::Bus).waits(4));
    c->push_back(RS("DataSet2_RefusedWithId2").data("error:1:2:2").ends(8, R::Controller));
    // A controller that acknowledges each set with a bare header of type 6.
    c->push_back(RS("DataSets_AckedWithHeader").sim({"--restore-ack", "header"}).ends(0, R::Bus));
    // The controller takes the set and closes the connection: the next set cannot be sent.
    c->push_back(RS("DataSet1_ClosedWithoutAck").data("close:1:1:0").ends(11, R::Controller));
    // After the last set only the close request is left, which needs no reply.
    c->push_back(RS("DataSet4_ClosedWithoutAck").data("close:1:4:0").ends(0, R::Bus).controllerGone());
    // The last set is acknowledged, then the controller falls silent: the close request needs no reply.
    c->push_back(RS("DataSet4_AckThenSilence").data("truncate:1:4:0").ends(0, R::Bus).waits(1));
    c->push_back(RS("Logout_NoAck").data("noreply:3:1").ends(0, R::Bus).waits(1));

    // --fpm-only: the login check only, then the orderly logout on every path.
    c->push_back(FO("Version_NoReply").data("noreply:7:1").ends(2, R::Login).waits(120));
    c->push_back(FO("Version_ClosedWithoutReply").data("close:7:1:0").ends(2, R::Login).controllerGone());
    c->push_back(FO("Password_ErrorResponse").data("error:9:1").ends(3, R::Login));
    c->push_back(FO("Password_Refused").sim({"--password", "other"}).ends(3, R::Login));
    c->push_back(FO("Logout_NoAck").data("noreply:3:1").ends(0, R::Bus).waits(1));
}

// Reading one block (function 3) or echoing it (4) on a backup, writing it (4)
// on a restore: the faults a block exchange rides out, and six missing replies
// in a row, which end the run. The last block only for the count of attempts.
void addBlockCases(std::vector<MatrixCase>* c, MatrixCase (*make)(const std::string&), const std::string& what,
                   int function, int block, double resendPause, const std::vector<std::string>& kinds) {
    // A block is read twice, its bytes confirmed; it is written once.
    const int request = function == 3 ? 2 * block - 1 : block;
    const std::string target = std::to_string(function) + ":" + std::to_string(request);
    const std::string name = what + std::to_string(block) + "_";
    const double attempt = 1 + resendPause; // the block time-out and the pause before a resend
    const std::string cleaned = make("").isBackup() ? "" : "1"; // a restore's written module
    std::map<std::string, MatrixCase> cases = {
        {"NoReplySixTimes", make(name + "NoReplySixTimes").bus("noreply:" + target + ":6").ends(11, R::Bus).waits(6 * attempt).cleanedNotRestored(cleaned)},
        {"NoReplyFiveTimes", make(name + "NoReplyFiveTimes").bus("noreply:" + target + ":5").ends(0, R::Bus).waits(5 * attempt).patient()},
        {"BadChecksum", make(name + "BadChecksum").bus("badsum:" + target).ends(0, R::Bus).waits(attempt)},
        {"WrongModule", make(name + "WrongModule").bus("wrongsrc:" + target).ends(0, R::Bus).waits(attempt)},
        {"ShortReply", make(name + "ShortReply").bus("count:" + target).ends(0, R::Bus).waits(attempt)},
        {"Oversized", make(name + "Oversized").bus("oversize:" + target).ends(0, R::Bus).waits(attempt)},
        {"NegativeLength", make(name + "NegativeLength").bus("negative:" + target).ends(0, R::Bus).waits(attempt)},
        // 120 ms is 2.4 s of the tool's clock: attempts go by before it comes,
        // and their replies, which follow it, must not pass for the next block's.
        {"Late", make(name + "Late").bus("late:" + target + ":120").ends(0, R::Bus).waits(3 * attempt + 1)},
        {"ConnectionCut", make(name + "ConnectionCut").bus("close:" + target + ":0").ends(11, R::BusCut).cleanedNotRestored(cleaned)},
    };
    for (const std::string& kind : kinds) {
        c->push_back(cases.at(kind));
    }
}

void addBackupBusCases(std::vector<MatrixCase>* c) {
    c->push_back(B("Bus_Refused").sim({"--refuse-bus"}).ends(1, R::NoBus).waits(90));
    c->push_back(B("Bus_SlowReplies").sim({"--bus-delay", "2"}).ends(0, R::Bus).waits(10).patient());
    // Every reply comes 20 s late on the tool's clock: no module answers its lookup in time.
    c->push_back(B("Bus_RepliesBeyondTimeouts").sim({"--bus-delay", "1000"}).ends(15, R::Bus).waits(3));
    // A module whose lookup reply is lost or spoilt is asked again: no module is left out.
    c->push_back(B("Lookup_NoReply").bus("noreply:2:1").ends(0, R::Bus).waits(1));
    c->push_back(B("Lookup_NoReplyThreeTimes").bus("noreply:2:1:17").ends(15, R::Bus).waits(3));
    c->push_back(B("Lookup_BadChecksum").bus("badsum:2:1").ends(0, R::Bus).waits(1));
    c->push_back(B("Lookup_WrongModule").bus("wrongsrc:2:1").ends(0, R::Bus).waits(1));
    c->push_back(B("Lookup_ShortReply").bus("count:2:1").ends(0, R::Bus));
    c->push_back(B("Lookup_LateWithinTimeout").bus("late:2:1:10").ends(0, R::Bus).patient());
    c->push_back(B("Lookup_ConnectionCut").bus("close:2:1:0").ends(11, R::BusCut));
    c->push_back(B("Lookup_NoModules").on("none").ends(15, R::Bus));
    c->push_back(B("Lookup_BlankModules").sim({"--blank-fpms"}).ends(0, R::Bus));
    c->push_back(MB("Success").ends(0, R::Bus));
    c->push_back(MB("Master_Absent").on("1").ends(17, R::Bus));
    c->push_back(MB("Master_LookupNoReply").bus("noreply:2:2").ends(0, R::Bus).waits(1));
    // Module 2's lookup reply is cut: programming mode cannot be switched on.
    c->push_back(B("ProgModeOn_GatewayGone").on("1,2").bus("close:2:2:0").ends(11, R::BusCut));
    c->push_back(B("CompDb_NoReply").bus("noreply:0x71:1").ends(11, R::Bus).waits(90));
    // Only the module's own CompDB reply counts.
    c->push_back(B("CompDb_BadChecksum").bus("badsum:0x71:1").ends(11, R::Bus).waits(90));
    c->push_back(B("CompDb_ShortReply").bus("count:0x71:1").ends(0, R::Bus));
    c->push_back(B("CompDb_LateWithinTimeout").bus("late:0x71:1:500").ends(0, R::Bus).waits(10));
    c->push_back(B("CompDb_Oversized").bus("oversize:0x71:1").ends(11, R::Bus));
    c->push_back(B("CompDb_ConnectionCut").bus("close:0x71:1:0").ends(11, R::BusCut));
    addBlockCases(c, B, "ReadBlock", 3, 1, 0, {"NoReplySixTimes", "NoReplyFiveTimes", "BadChecksum", "WrongModule", "ShortReply", "Oversized", "NegativeLength", "Late", "ConnectionCut"});
    addBlockCases(c, B, "ReadBlock", 3, 485, 0, {"NoReplySixTimes", "NoReplyFiveTimes", "Late"});
    addBlockCases(c, B, "EchoBlock", 4, 1, 0.7, {"NoReplySixTimes", "NoReplyFiveTimes", "BadChecksum", "Late", "ConnectionCut"});
    addBlockCases(c, B, "EchoBlock", 4, 485, 0.7, {"NoReplySixTimes", "Late"});
    // No block is echoed or kept before a second read brings the same bytes:
    // a reply damaged past its checksum, a late one and a copy never pass.
    c->push_back(B("ReadBlock1_Damaged").bus("damage:3:1").ends(0, R::Bus));
    c->push_back(B("ReadBlock485_Damaged").bus("damage:3:969").ends(0, R::Bus));
    c->push_back(B("ReadBlock1_SecondReadDamaged").bus("damage:3:2").ends(0, R::Bus));
    c->push_back(B("ReadBlock2_Late2500ms").bus("late:3:3:125").ends(0, R::Bus).waits(4));
    c->push_back(B("ReadBlock2_Late6500ms").bus("late:3:3:325").ends(11, R::Bus).waits(7));
    c->push_back(B("ReadReplies_SentTwice").bus("twice:3:1:2").ends(0, R::Bus).waits(2));
    // A module whose CRC after the templates is not the one before changed meanwhile.
    c->push_back(B("ReadCrcAfter_Damaged").bus("damage:6:2").ends(10, R::Bus));
    // A backup never goes without a module's configuration or CRC: a lost or
    // unusable reply is asked for again, and six end the run. A reply still
    // owed after a time-out is waited for (up to the 10 s time-out) before
    // the next request, so that it cannot pass for that request's reply.
    for (const auto& [value, target] : std::vector<std::pair<std::string, std::string>>{{"ReadConfig", "0x5e:1"}, {"ReadCrc", "6:1"}}) {
        c->push_back(B(value + "_NoReply").bus("noreply:" + target).ends(0, R::Bus).waits(20));
        c->push_back(B(value + "_NoReplySixTimes").bus("noreply:" + target + ":6").ends(11, R::Bus).waits(70));
        c->push_back(B(value + "_BadChecksum").bus("badsum:" + target).ends(0, R::Bus).waits(10));
        // 600 ms is 12 s of the tool's clock, past the 10 s time-out.
        c->push_back(B(value + "_LateBeyondTimeout").bus("late:" + target + ":600").ends(0, R::Bus).waits(24));
    }
    c->push_back(B("ReadConfig_LateWithinTimeout").bus("late:0x5e:1:300").ends(0, R::Bus).waits(6));
    c->push_back(B("ReadConfig_ConnectionCut").bus("close:0x5e:1:0").ends(11, R::BusCut));
    // Four configuration bytes instead of five cannot be stored.
    c->push_back(B("ReadConfig_ShortReply").bus("count:0x5e:1").ends(0, R::Bus));
    // The last exchange before the closing phase: the closing phase cannot go out.
    c->push_back(B("ReadCrc_ConnectionCut").bus("close:6:1:0").ends(11, R::BusCut));
    c->push_back(B("Module2_ReadBlock1_NoReplySixTimes").on("1,2").bus("noreply:3:971:6").ends(11, R::Bus).waits(6));
    c->push_back(B("Module2_CompDb_NoReply").on("1,2").bus("noreply:0x71:2").ends(11, R::Bus).waits(90));
    c->push_back(B("Module8_EchoBlock1_NoReplySixTimes").on("1,8").bus("noreply:4:486:6").ends(11, R::Bus).waits(11));
    c->push_back(B("Module8_ReadBlock30_ConnectionCut").on("2,5,8").bus("close:3:1999:0").ends(11, R::BusCut));
}

void addRestoreBusCases(std::vector<MatrixCase>* c) {
    c->push_back(RS("Bus_Refused").sim({"--refuse-bus"}).ends(1, R::NoBus).waits(90));
    c->push_back(RS("Bus_SlowReplies").sim({"--bus-delay", "2"}).ends(0, R::Bus).waits(25));
    // Every reply comes 40 s late on the tool's clock: the module is taken to be absent and left alone.
    c->push_back(RS("Bus_RepliesBeyondTimeouts").sim({"--bus-delay", "2000"}).ends(13, R::Bus).waits(3).crcOf("1"));
    // The module does not answer its lookup: the file's module is restored all the same.
    c->push_back(RS("Lookup_NoReply").bus("noreply:2:1").ends(0, R::Bus).waits(1));
    c->push_back(RS("Lookup_ConnectionCut").bus("close:2:1:0").ends(11, R::BusCut));
    // Module 2 is not there: module 1 is restored, module 2 left alone, and the run says so.
    c->push_back(RS("Lookup_ModuleOnlyInFile").holding("1,2").ends(13, R::Bus).crcOf("2"));
    c->push_back(RS("Lookup_ModuleOnlyOnBus").on("1,2").ends(0, R::Bus));
    c->push_back(RS("Clean_NoReply").bus("noreply:0x5a:1").ends(0, R::Bus).waits(90));
    c->push_back(RS("Clean_LateWithinTimeout").bus("late:0x5a:1:500").ends(0, R::Bus).waits(10));
    c->push_back(RS("Clean_ConnectionCut").bus("close:0x5a:1:0").ends(11, R::BusCut).cleanedNotRestored("1"));
    addBlockCases(c, RS, "WriteBlock", 4, 1, 0.7, {"NoReplySixTimes", "NoReplyFiveTimes", "BadChecksum", "WrongModule", "Late", "ConnectionCut"});
    addBlockCases(c, RS, "WriteBlock", 4, 485, 0.7, {"NoReplySixTimes", "Late"});
    // The module writes the configuration even where its reply is lost.
    c->push_back(RS("WriteConfig_NoReply").bus("noreply:0x60:1").ends(0, R::Bus).waits(10));
    c->push_back(RS("WriteConfig_LateWithinTimeout").bus("late:0x60:1:100").ends(0, R::Bus).waits(2));
    // The acknowledgement comes after the 10 s time-out: it is waited for,
    // never taken for the CRC reply that follows.
    c->push_back(RS("WriteConfig_LateBeyondTimeout").bus("late:0x60:1:600").ends(0, R::Bus).waits(24));
    c->push_back(RS("WriteConfig_ConnectionCut").bus("close:0x60:1:0").ends(11, R::BusCut).cleanedNotRestored("1"));
    c->push_back(RS("ReadCrc_NoReply").bus("noreply:6:1").ends(9, R::Bus).waits(10).crcOf("1"));
    // Four of the five bytes, all equal to the file's: a reply of 1 to 5 bytes passes.
    c->push_back(RS("ReadCrc_ShortReply").bus("count:6:1").ends(0, R::Bus));
    c->push_back(RS("ReadCrc_Oversized").bus("oversize:6:1").ends(9, R::Bus).crcOf("1"));
    c->push_back(RS("ReadCrc_LateWithinTimeout").bus("late:6:1:100").ends(0, R::Bus).waits(2));
    c->push_back(RS("ReadCrc_LateBeyondTimeout").bus("late:6:1:600").ends(9, R::Bus).waits(10).crcOf("1"));
    c->push_back(RS("ReadCrc_ConnectionCut").bus("close:6:1:0").ends(11, R::BusCut));
    c->push_back(RS("Module2_WriteBlock1_NoReplySixTimes").on("1,2").holding("1,2").bus("noreply:4:486:6").ends(11, R::Bus).waits(11).cleanedNotRestored("2"));
    c->push_back(RS("Module2_ReadCrc_NoReply").on("1,2").holding("1,2").bus("noreply:6:2").ends(9, R::Bus).waits(10).crcOf("2"));
    c->push_back(RS("Module2_Clean_ConnectionCut").on("1,2").holding("1,2").bus("close:0x5a:2:0").ends(11, R::BusCut).cleanedNotRestored("2"));
    c->push_back(RS("Module8_WriteBlock1_NoReplySixTimes").on("1,8").holding("1,8").bus("noreply:4:486:6").ends(11, R::Bus).waits(11).cleanedNotRestored("8"));
    c->push_back(FO("Success").ends(0, R::Bus));

    // A restore checks the whole file before it sends anything.
    c->push_back(RS("File_ShortConfig").fileKey("FPM1.CFG", "AAAA").ends(7, R::NoController));
    c->push_back(RS("File_NoConfig").fileKey("FPM1.CFG", "").ends(7, R::NoController));
    c->push_back(RS("File_NoCrc").fileKey("FPM1.CRC", "").ends(7, R::NoController));
    c->push_back(RS("File_PartialModule").fileKey("FPM1.DataLength", "0").fileKey("FPM1.Data", "").ends(7, R::NoController));
    c->push_back(RS("File_MasterOfThreeModules").holding("1,2,3").fileKey("FPM0.MASTER", "195").ends(7, R::NoController));
    c->push_back(RS("File_MasterOutOfRange").fileKey("FPM0.MASTER", "449").ends(7, R::NoController));
    c->push_back(RS("File_DataSetAboveLargest").fileKey("ConfigManager.DataLength", "268435457").ends(7, R::NoController));
    c->push_back(RS("File_NoVersion").fileKey("Global.Version", "").ends(7, R::NoController));
    c->push_back(RS("File_NoModule").holding("").ends(7, R::NoController));
    c->push_back(FO("File_NoModule").holding("").ends(7, R::NoController));
    c->push_back(FO("File_Junk").holding("").fileKey("junk", "x").ends(7, R::NoController));
    c->push_back(OO("File_SourceNotInFile").holding("2").ends(17, R::NoController));

    c->push_back(OO("Success").ends(0, R::Bus));
    c->push_back(OO("Destination_Absent").on("1").ends(18, R::Bus));
    // The destination's lookup (the 22nd: the file's scan asks 8 + 6 + 6) is lost once.
    c->push_back(OO("Destination_LookupNoReply").bus("noreply:2:22").ends(0, R::Bus).waits(1));
    c->push_back(OO("Destination_ConnectionCut").bus("close:2:22:0").ends(11, R::BusCut));
    c->push_back(OO("WriteBlock1_NoReplySixTimes").bus("noreply:4:1:6").ends(11, R::Bus).waits(11).cleanedNotRestored("2"));
    c->push_back(OO("Clean_NoReply").bus("noreply:0x5a:1").ends(0, R::Bus).waits(90));
    c->push_back(OO("ReadCrc_NoReply").bus("noreply:6:1").ends(9, R::Bus).waits(10).crcOf("2"));
    c->push_back(OA("Success").ends(0, R::Bus));
    // Module 1's lookup before the clean (the 21st) is lost once: it is still cleaned, written and checked.
    c->push_back(OA("Clean_LookupNoReply").bus("noreply:2:21").ends(0, R::Bus).waits(1));
    c->push_back(OA("Module2_ReadCrc_NoReply").bus("noreply:6:2").ends(9, R::Bus).waits(10).crcOf("2"));
    c->push_back(OA("Module2_Clean_ConnectionCut").bus("close:0x5a:2:0").ends(11, R::BusCut).cleanedNotRestored("1,2"));
    c->push_back(MR("Success").ends(0, R::Bus));
    c->push_back(MR("Clean_LookupNoReply").bus("noreply:2:22").ends(0, R::Bus).waits(1));
    c->push_back(MR("Module1_ReadCrc_NoReply").bus("noreply:6:1").ends(9, R::Bus).waits(10).crcOf("1"));
    c->push_back(MR("Module1_Clean_NoReply").bus("noreply:0x5a:1").ends(0, R::Bus).waits(90));
}
// clang-format on

std::vector<MatrixCase> allCases() {
    std::vector<MatrixCase> cases;
    addControllerCases(&cases);
    addBackupBusCases(&cases);
    addRestoreBusCases(&cases);
    return cases;
}

} // namespace

INSTANTIATE_TEST_SUITE_P(FaultMatrix, E2eFaultMatrix, ::testing::ValuesIn(allCases()),
                         [](const ::testing::TestParamInfo<MatrixCase>& info) {
                             return info.param.name;
                         });
