#pragma once

#include "fleet/ChildProcess.h"
#include "fleet/Inventory.h"

#include <string>
#include <vector>

// The command lines of TursaBackupCmd for a controller, and what its exit
// statuses mean to the fleet. The password never goes on a command line:
// the tool reads the file TURSA_PASSWORD_FILE names, for a password_env
// password a pipe on its standard input (/dev/stdin).
class CToolCommand {
public:
    // The TursaBackupCmd beside this program.
    static std::string defaultTool();

    // A backup into pending, logged at verbosity 3 into logPath (outputFd
    // is that log too, for anything written before the tool opens it).
    static CChildProcess::Spec backup(const std::string& tool, const CInventory::Controller& controller,
                                      const std::string& pending, const std::string& logPath,
                                      int outputFd);
    static CChildProcess::Spec restore(const std::string& tool, const CInventory::Controller& controller,
                                       const std::string& file, const std::vector<std::string>& options);

    // Statuses that a later attempt may cure: no connection, network
    // unreachable, communication error, out of memory.
    static bool isRetriable(int status);
    // The tool's error line for the status, as its log has it.
    static std::string messageOf(int status, const std::string& logPath);

private:
    static void addPassword(CChildProcess::Spec* spec, const CInventory::Controller& controller);
};
