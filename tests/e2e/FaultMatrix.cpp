#include "e2e/FaultMatrix.h"

#include <map>
#include <sstream>

namespace e2e {

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

MatrixCase& MatrixCase::sim(std::vector<std::string> args) {
    simArgs.insert(simArgs.end(), args.begin(), args.end());
    return *this;
}

std::vector<int> MatrixCase::modules() const {
    return numbersOf(fpms);
}

std::vector<int> MatrixCase::fileModules() const {
    return task == MatrixTask::Restore || task == MatrixTask::FpmOnly ||
                   task == MatrixTask::OneToOne
               ? numbersOf(fileFpms)
               : std::vector<int>{1};
}

std::vector<std::string> MatrixCase::taskArgs() const {
    switch (task) {
    case MatrixTask::Backup:
        return {"--backup"};
    case MatrixTask::MasterBackup:
        return {"--backup", "--fpm-from", "2"};
    case MatrixTask::Restore:
    case MatrixTask::MasterRestore:
        return {"--restore"};
    case MatrixTask::FpmOnly:
        return {"--restore", "--fpm-only"};
    case MatrixTask::OneToOne:
        return {"--restore", "--fpm-only", "--fpm-from", "1", "--fpm-to", "2"};
    case MatrixTask::OneToAll:
        return {"--restore", "--fpm-only", "--fpm-from", "1"};
    }
    return {};
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

std::ostream& operator<<(std::ostream& out, const MatrixCase& c) {
    return out << c.name;
}

} // namespace e2e
