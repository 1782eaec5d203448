#include "backup/Backup.h"

#include "base/ExitCode.h"
#include "base/Logger.h"
#include "controller/DataNetwork.h"
#include "controller/DataProtocol.h"
#include "net/Timer.h"

namespace {

const unsigned int DATA_PORT = 11574;
const unsigned long DATA_CONNECT_TIMEOUT_MS = 20000;
const unsigned short PAUSE_AFTER_CONNECT_S = 2;
// Controllers up to this interface version have no 'Service' login.
const unsigned long LAST_VERSION_WITHOUT_LOGIN = 106;

} // namespace

unsigned long CBackup::checkSecurity(std::string ipAddress, std::string password) {
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
    if (version > LAST_VERSION_WITHOUT_LOGIN && !protocol.comparePassword(password)) {
        failRun("Wrong password.", EXIT_WRONG_PASSWORD);
    }
    return version;
}

// Both controller halves log in, run one data protocol step framed by two
// progress lines, and close the connection in the controller's orderly way.
// On a failure the code passes on and the connection stays as it was.
void CBackup::runOnController(std::string ipAddress, std::string password, const char* startText,
                              const char* endText,
                              const std::function<void(CDataProtocol&, unsigned long)>& step) {
    CDataNetwork* network = CDataNetwork::getInstance();
    CDataProtocol protocol;
    const unsigned long version = checkSecurity(ipAddress, password);
    protocol.initialize();
    CLogger::getInstance()->log(startText, 3);
    step(protocol, version);
    CLogger::getInstance()->log(endText, 3);
    network->closeConnection();
}

void CBackup::backupController(std::string ipAddress, std::string password) {
    runOnController(ipAddress, password, "Start controller backup.", "Controller backup finished.",
                    [](CDataProtocol& protocol, unsigned long version) {
                        protocol.backupAllTursaData(version);
                    });
}

void CBackup::restoreController(std::string ipAddress, std::string password) {
    runOnController(ipAddress, password, "Start controller restore.",
                    "Controller restore finished.",
                    [](CDataProtocol& protocol, unsigned long version) {
                        protocol.restoreAllTursaData(version);
                    });
}
