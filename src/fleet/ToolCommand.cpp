#include "fleet/ToolCommand.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sys/statvfs.h>
#include <unistd.h>

namespace {

// A part of the line the tool logs as an error for each status.
const std::map<int, std::string> ERROR_LINES = {
    {1, "Could not open network connection."}, {2, "Unkown interface version."},
    {3, "Wrong password."},                     {7, "Backup file is corrupt."},
    {8, "Could not restore data."},             {9, "One ore more FPM has a wrong CRC."},
    {10, "changed during the backup."},         {11, "Network unreachable."},
    {12, "Backup file version not compatible."}, {13, "One or more FPM is not on the bus"},
    {14, "Communication error."},               {15, "No FPM found."},
    {16, "Could not user logfile"},             {17, "Unkown source FPM."},
    {18, "Destination FPM not found."},         {19, "Could not open backup file."},
    {20, "Memory error"},                       {127, "the tool could not be started"},
    {255, "the tool rejected its command line"}};

// The last line of the log's tail that holds the part, or the part.
std::string lastLineWith(const std::string& part, const std::string& logPath) {
    std::ifstream log(logPath, std::ios::binary);
    log.seekg(0, std::ios::end);
    const std::streamoff size = log ? static_cast<std::streamoff>(log.tellg()) : 0;
    log.seekg(std::max<std::streamoff>(0, size - 65536));
    std::string found = part;
    for (std::string line; std::getline(log, line);) {
        if (line.find(part) != std::string::npos) {
            found = line;
        }
    }
    return found;
}

// Why a file could not be written, when it is the store's disk.
std::string diskNote(const std::string& logPath) {
    struct statvfs disk {};
    if (statvfs(logPath.substr(0, logPath.rfind('/')).c_str(), &disk) != 0) {
        return "";
    }
    if ((disk.f_flag & ST_RDONLY) != 0) {
        return " (the store is read-only)";
    }
    return disk.f_bavail == 0 ? " (the store's disk is full)" : "";
}

} // namespace

std::string CToolCommand::defaultTool() {
    char self[PATH_MAX];
    const ssize_t size = readlink("/proc/self/exe", self, sizeof(self) - 1);
    const std::string path(self, static_cast<size_t>(std::max<ssize_t>(size, 0)));
    return path.substr(0, path.rfind('/') + 1) + "TursaBackupCmd";
}

CChildProcess::Spec CToolCommand::backup(const std::string& tool, const CInventory::Controller& controller,
                                         const std::string& pending, const std::string& logPath,
                                         int outputFd) {
    CChildProcess::Spec spec;
    spec.argv = {tool, "-b", "-i", controller.address, "-f", pending, "-v", "3", "-F", logPath};
    if (controller.master > 0) {
        spec.argv.insert(spec.argv.end(), {"-m", std::to_string(controller.master)});
    }
    spec.outputFd = outputFd;
    addPassword(&spec, controller);
    return spec;
}

CChildProcess::Spec CToolCommand::restore(const std::string& tool, const CInventory::Controller& controller,
                                          const std::string& file, const std::vector<std::string>& options) {
    CChildProcess::Spec spec;
    spec.argv = {tool, "-r", "-i", controller.address, "-f", file};
    spec.argv.insert(spec.argv.end(), options.begin(), options.end());
    addPassword(&spec, controller);
    return spec;
}

void CToolCommand::addPassword(CChildProcess::Spec* spec, const CInventory::Controller& controller) {
    if (!controller.passwordFile.empty()) {
        spec->environment.push_back("TURSA_PASSWORD_FILE=" + controller.passwordFile);
        return;
    }
    const char* password = getenv(controller.passwordEnv.c_str());
    spec->environment.push_back("TURSA_PASSWORD_FILE=/dev/stdin");
    spec->usesInput = true;
    spec->input = std::string(password != nullptr ? password : "") + "\n";
}

bool CToolCommand::isRetriable(int status) {
    return status == 1 || status == 11 || status == 14 || status == 20;
}

std::string CToolCommand::messageOf(int status, const std::string& logPath) {
    const auto line = ERROR_LINES.find(status);
    if (line != ERROR_LINES.end()) {
        const std::string note = status == 16 || status == 19 ? diskNote(logPath) : "";
        return lastLineWith(line->second, logPath) + note;
    }
    if (status > 128) {
        return status == 143 || status == 130 || status == 129 ? lastLineWith("Interrupted.", logPath)
                                                              : "ended by signal " + std::to_string(status - 128);
    }
    return "exit status " + std::to_string(status);
}
