#include "app/CommandLine.h"
#include "base/ExitCode.h"
#include "base/Interrupt.h"
#include "base/Logger.h"
#include "backup/Backup.h"
#include "bus/MelkoNetwork.h"
#include "controller/DataNetwork.h"
#include "store/FileManager.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <iostream>
#include <new>
#include <string>

const std::string m_version = "Kemb Backup \"1.0.1.2-SW005\"";

void printUsage() {
    static const char* const lines[] = {
        "Usage: [PARAMETER] [OPTIONS]",
        "   PARAMETER:",
        "       -h, --help                  display this help and exit.",
        "       -V, --version               output version information and exit.",
        "       -v, --verbose LEVEL         set verbose level [1..4]. (standard: 1)",
        "       -F, --log-file FILE         set log-file. (standard: console)",
        "       -b, --backup                backup controller data and the template data",
        "                                   of the FPMs.",
        "       -r, --restore               restore controller data and the template ",
        "                                   data of the FPMs.",
        "",
        "   OPTIONS:",
        "       -f, --file-name FILE        file name of the backup/restore file.",
        "       -i, --ip-address ADDRESS    ip address of the controller.",
        "       -p, --password PASSWORD     password of the 'Service' user.",
        "",
        "     Backup options:",
        "       -m, --fpm-from ADDRESS      address of the master FPM [1..8].",
        "",
        "     Restore options:",
        "       -o, --fpm-only              restore the template data only.",
        "       -m, --fpm-from ADDRESS      address of the FPM in the restore file which",
        "                                   should be restored. [1..8]",
        "       -t, --fpm-to ADDRESS        address of the destination FPM [1..8]. ",
        "                                   Restores the templates from the --fpm-from ",
        "                                   FPM to the given destination.",
        "",
        "       * If the --fpm-from address is given without the --fpm-to address, the ",
        "         templates will be restored to all FPMs on the bus.",
        "       * It is not possible to define --fpm-to without --fpm-from. ",
        "",
    };
    for (const char* line : lines) {
        std::cout << line << std::endl;
    }
}

void printVersion() {
    std::cout << m_version << std::endl;
}

namespace {

[[noreturn]] void failBackupFile() {
    failRun("Could not open backup file.", EXIT_BACKUP_FILE_UNUSABLE);
}

// A backup is the controller and then the modules; a restore the same,
// unless only the modules are asked for.
void runTask(CBackup& backup, CCommandLine& commandLine, CFileManager* fileManager) {
    const std::string fileName = commandLine.getFileName();
    if (commandLine.isBackup()) {
        if (!fileManager->pathExists(fileName)) {
            failBackupFile();
        }
        backup.backupController(commandLine.getIpAddress(), commandLine.getPassword());
        backup.backupFPM(commandLine.getIpAddress(), commandLine.getPassword(), false,
                         commandLine.getFPMFrom());
    } else if (commandLine.isRestore()) {
        if (!fileManager->fileExists(fileName)) {
            failBackupFile();
        }
        backup.checkRestoreFile(commandLine.isFPMOnly(), commandLine.getFPMFrom());
        if (!commandLine.isFPMOnly()) {
            backup.restoreController(commandLine.getIpAddress(), commandLine.getPassword());
        }
        backup.restoreFPM(commandLine.getIpAddress(), commandLine.getPassword(),
                          commandLine.isFPMOnly(), commandLine.getFPMFrom(),
                          commandLine.getFPMTo());
    }
}

void tearDown() {
    CDataNetwork::Destroy();
    CMelkoNetwork::Destroy();
    CFileManager::Destroy();
    CLogger::Destroy();
}

} // namespace

namespace {

// A standard stream that was closed when the tool started would be the
// first descriptor the tool opens, its backup file: log lines would land
// in it. /dev/null takes the place.
void occupyClosedStandardStreams() {
    for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) {
            const int filler = open("/dev/null", O_RDWR);
            if (filler >= 0 && filler != fd) {
                dup2(filler, fd);
                close(filler);
            }
        }
    }
}

// The password is in memory from the first moment: a core file must not
// carry it away.
void forbidCoreFiles() {
    struct rlimit none = {0, 0};
    setrlimit(RLIMIT_CORE, &none);
    prctl(PR_SET_DUMPABLE, 0);
}

} // namespace

int main(int argc, char** argv) {
    occupyClosedStandardStreams();
    forbidCoreFiles();
    // Past a file-size limit a write must fail like on a full disk, not kill the run.
    signal(SIGXFSZ, SIG_IGN);
    // A reader of the output that went away (`| head -1`) costs lines, not the run.
    signal(SIGPIPE, SIG_IGN);
    CInterrupt::install();
    CFileManager* fileManager = CFileManager::getInstance();
    CLogger* logger = CLogger::getInstance();
    CBackup backup;
    CCommandLine commandLine;

    try {
        commandLine.parse(argc, argv);
        if (!commandLine.checkParameter()) {
            printUsage();
            return EXIT_COMMAND_LINE_REJECTED;
        }
        if (commandLine.isVersion()) {
            printVersion();
            return 0;
        }
        if (commandLine.isHelp()) {
            printUsage();
            return 0;
        }
        logger->setLevel(commandLine.getLogLevel());
        logger->setFileName(commandLine.getLogfile());
    } catch (int code) {
        // A rejected argument or an unusable log file, already reported;
        // nothing has been opened yet.
        return code;
    }
    fileManager->setFileName(commandLine.getFileName());

    int status = 0;
    try {
        runTask(backup, commandLine, fileManager);
    } catch (int code) {
        status = code;
    } catch (const std::bad_alloc&) {
        // A clean failure with the usual teardown, never an abort.
        logMemoryError();
        status = EXIT_OUT_OF_MEMORY;
    }
    if (CInterrupt::happened()) {
        // An interrupted run still logs out of the controller in its orderly way.
        CDataNetwork::getInstance()->closeConnection();
    }
    // A backup's file replaces the previous one only when the run succeeded.
    if (!fileManager->finishBackup(status == 0) && status == 0) {
        status = EXIT_BACKUP_FILE_UNUSABLE;
    }
    tearDown();
    return status;
}
