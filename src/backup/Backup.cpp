#include "backup/Backup.h"

#include "base/ExitCode.h"
#include "base/Interrupt.h"
#include "base/Logger.h"
#include "bus/MelkoAction.h"
#include "bus/MelkoNetwork.h"
#include "bus/MelkoProtocol.h"
#include "controller/DataNetwork.h"
#include "controller/DataProtocol.h"
#include "backup/BackupContent.h"
#include "backup/Inspector.h"
#include "net/Timer.h"
#include "store/FileManager.h"

#include <new>
#include <utility>

namespace {

const unsigned int DATA_PORT = 11574;
const unsigned long DATA_CONNECT_TIMEOUT_MS = 20000;
const unsigned short PAUSE_AFTER_CONNECT_S = 2;
const unsigned int BUS_PORT = 11575;
const unsigned long BUS_CONNECT_TIMEOUT_MS = 90000;
// The controller needs this long after the data connection closed before
// it serves the bus connection, and the bus this long before the first telegram.
const unsigned short PAUSE_BEFORE_BUS_S = 70;
const unsigned short PAUSE_AFTER_BUS_CONNECT_S = 5;
// Controllers up to this interface version have no 'Service' login.
const unsigned long LAST_VERSION_WITHOUT_LOGIN = 106;

} // namespace

unsigned long CBackup::checkSecurity(const std::string& ipAddress, std::string password) {
    CDataNetwork* network = CDataNetwork::getInstance();
    CDataProtocol protocol;
    if (!network->openConnection(ipAddress.c_str(), DATA_PORT, DATA_CONNECT_TIMEOUT_MS)) {
        failRun("Could not open network connection.", EXIT_NO_CONNECTION);
    }
    CTimer timer;
    timer.wait(PAUSE_AFTER_CONNECT_S);
    protocol.initialize();
    const unsigned long version = static_cast<unsigned long>(protocol.getVersion());
    if (version == 0) {
        failRun("Unkown interface version.", EXIT_UNKNOWN_VERSION);
    }
    CLogger::getInstance()->log("Interface has version " + std::to_string(version), 4);
    if (version > LAST_VERSION_WITHOUT_LOGIN && !protocol.comparePassword(std::move(password))) {
        failRun("Wrong password.", EXIT_WRONG_PASSWORD);
    }
    return version;
}

// Both controller halves log in, run one data protocol step framed by two
// progress lines, and close the connection in the controller's orderly way.
// On a failure the code passes on and the connection stays as it was.
void CBackup::runOnController(const std::string& ipAddress, std::string password,
                              const char* startText, const char* endText,
                              const std::function<void(CDataProtocol&, unsigned long)>& step) {
    CDataNetwork* network = CDataNetwork::getInstance();
    CDataProtocol protocol;
    const unsigned long version = checkSecurity(ipAddress, std::move(password));
    protocol.initialize();
    CLogger::getInstance()->log(startText, 3);
    step(protocol, version);
    CLogger::getInstance()->log(endText, 3);
    network->closeConnection();
}

void CBackup::backupController(const std::string& ipAddress, std::string password) {
    runOnController(ipAddress, std::move(password), "Start controller backup.",
                    "Controller backup finished.",
                    [](CDataProtocol& protocol, unsigned long version) {
                        protocol.backupAllTursaData(version);
                    });
}

void CBackup::checkRestoreFile(bool fpmOnly, int fpmFrom) {
    CBackupContent content;
    content.readForCheck(CFileManager::getInstance());
    const CInspector inspector(content,
                               fpmOnly ? CInspector::Scope::Modules : CInspector::Scope::Restore);
    if (!inspector.isCompleteAndConsistent()) {
        for (const CInspector::Problem& problem : inspector.problems()) {
            CLogger::getInstance()->log("Problem: " + problem.text, 2);
        }
        failRun("Backup file is corrupt.", EXIT_CORRUPT_FILE);
    }
    if (fpmFrom > 0 && !content.modules()[static_cast<size_t>(fpmFrom - 1)].inFile()) {
        failRun("Unkown source FPM.", EXIT_UNKNOWN_SOURCE_FPM);
    }
}

void CBackup::restoreController(const std::string& ipAddress, std::string password) {
    runOnController(ipAddress, std::move(password), "Start controller restore.",
                    "Controller restore finished.",
                    [](CDataProtocol& protocol, unsigned long version) {
                        protocol.restoreAllTursaData(version);
                    });
}

void CBackup::loginPhase(const std::string& ipAddress, std::string password, bool login) {
    CDataNetwork* dataNetwork = CDataNetwork::getInstance();
    try {
        if (login) {
            checkSecurity(ipAddress, std::move(password));
            dataNetwork->closeConnection();
        }
        CTimer timer;
        timer.wait(PAUSE_BEFORE_BUS_S, "Waiting for the controller");
    } catch (int) {
        dataNetwork->closeConnection();
        throw;
    }
}

void CBackup::openBus(const std::string& ipAddress, CMelkoProtocol& protocol) {
    if (!CMelkoNetwork::getInstance()->openConnection(ipAddress.c_str(), BUS_PORT,
                                                      BUS_CONNECT_TIMEOUT_MS)) {
        failRun("Could not open network connection.", EXIT_NO_CONNECTION);
    }
    protocol.initialize();
    CTimer timer;
    timer.wait(PAUSE_AFTER_BUS_CONNECT_S, "Waiting for the bus");
}

// A gateway that dropped the bus connection gets one new one for the
// closing phase: the modules must not stay in programming mode.
bool CBackup::reopenLostBus(const std::string& ipAddress) {
    CMelkoNetwork* bus = CMelkoNetwork::getInstance();
    bus->discardWaiting(); // notices a connection the gateway has ended
    if (!bus->isLost()) {
        return true;
    }
    bus->closeConnection();
    if (!bus->openConnection(ipAddress.c_str(), BUS_PORT, BUS_CONNECT_TIMEOUT_MS)) {
        return false;
    }
    CTimer timer;
    timer.wait(PAUSE_AFTER_BUS_CONNECT_S, "Waiting for the bus");
    return true;
}

int CBackup::closingPhase(CMelkoProtocol& protocol, const std::string& ipAddress, int savedCode) {
    // A signal that arrives here ends the run all the same, but only after
    // the modules have left programming mode: the phase then runs once more.
    for (int pass = 0; pass < 2; ++pass) {
        try {
            if (!reopenLostBus(ipAddress)) {
                // The failure that lost the connection has been reported.
                if (savedCode == 0) {
                    failRun("Network unreachable.", EXIT_NETWORK_UNREACHABLE);
                }
                break;
            }
            protocol.setProgMode(false);
            CLogger::getInstance()->log("Reset melko bus...", 4);
            protocol.resetBus(static_cast<char>(CMelkoAction::ADDRESS_ALL_FPM));
            break;
        } catch (int code) {
            savedCode = code;
            if (!CInterrupt::happened()) {
                break;
            }
        }
    }
    CMelkoNetwork::getInstance()->closeConnection();
    return savedCode;
}

void CBackup::runGuarded(CMelkoProtocol& protocol, const std::string& ipAddress,
                         const std::function<void()>& work) {
    int savedCode = 0;
    try {
        work();
    } catch (int code) {
        savedCode = code;
    } catch (const std::bad_alloc&) {
        logMemoryError();
        savedCode = EXIT_OUT_OF_MEMORY;
    }
    if (savedCode != 0) {
        protocol.reportUnfinishedModules();
    }
    savedCode = closingPhase(protocol, ipAddress, savedCode);
    if (savedCode > 0) {
        throw savedCode;
    }
}

void CBackup::backupFPM(const std::string& ipAddress, std::string password, bool login,
                        int masterFpm) {
    CMelkoProtocol protocol;
    loginPhase(ipAddress, std::move(password), login);
    openBus(ipAddress, protocol);
    runGuarded(protocol, ipAddress, [&] {
        if (!protocol.setMasterFPM(masterFpm)) {
            failRun("No FPM found.", EXIT_NO_FPM);
        }
        protocol.setProgMode(true);
        CLogger::getInstance()->log("Start finger print backup.", 3);
        protocol.backupAllFPM();
        CLogger::getInstance()->log("Finger print backup finished.", 3);
    });
}

void CBackup::restoreFPM(const std::string& ipAddress, std::string password, bool login,
                         int fpmFrom, int fpmTo) {
    CMelkoProtocol protocol;
    loginPhase(ipAddress, std::move(password), login);
    openBus(ipAddress, protocol);
    runGuarded(protocol, ipAddress, [&] {
        protocol.setProgMode(true);
        CLogger::getInstance()->log("Start finger print restore.", 3);
        if (fpmFrom > 0) {
            protocol.restoreFPM(fpmFrom, fpmTo);
        } else {
            protocol.restoreAllFPM();
        }
        CLogger::getInstance()->log("Finger print restore finished.", 3);
    });
}
