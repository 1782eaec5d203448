#pragma once

#include <functional>
#include <string>

class CDataProtocol;
class CMelkoProtocol;

// Orchestrates one backup or restore run against the controller.
class CBackup {
public:
    CBackup() = default;
    virtual ~CBackup() = default;

    // Connects to the controller's data service, reads its interface
    // version and, above version 106, checks the 'Service' password.
    // Returns the version and leaves the connection open; throws 1, 2 or 3.
    unsigned long checkSecurity(const std::string& ipAddress, std::string password);

    // Before a restore sends anything, by the rules of a restorable file
    // (CInspector): the controller's keys unless only the modules are
    // restored, the module keys, at least one module (7), and the --fpm-from
    // module in the file (17). The only check of the file a restore makes
    // besides the version's, after the login (12).
    void checkRestoreFile(bool fpmOnly, int fpmFrom);

    void backupController(const std::string& ipAddress, std::string password);
    void restoreController(const std::string& ipAddress, std::string password);

    // The module half: optional login on the data connection, 70 s for the
    // controller, the bus connection, 5 s, programming mode around the
    // module work, and always programming mode off, bus reset and close
    // once the modules may be in programming mode.
    void backupFPM(const std::string& ipAddress, std::string password, bool login, int masterFpm);
    void restoreFPM(const std::string& ipAddress, std::string password, bool login, int fpmFrom,
                    int fpmTo);

private:
    void loginPhase(const std::string& ipAddress, std::string password, bool login);
    // Opens the bus connection, binds the protocol to it and gives the bus 5 s.
    void openBus(const std::string& ipAddress, CMelkoProtocol& protocol);
    // Programming mode off, bus reset, close. A failure here (11) replaces
    // the code saved from the module work.
    int closingPhase(CMelkoProtocol& protocol, const std::string& ipAddress, int savedCode);
    bool reopenLostBus(const std::string& ipAddress);
    // Runs the module work; whatever code it ends with, the closing phase
    // follows, and then the code (or the closing phase's own) is thrown.
    void runGuarded(CMelkoProtocol& protocol, const std::string& ipAddress,
                    const std::function<void()>& work);
    void runOnController(const std::string& ipAddress, std::string password, const char* startText,
                         const char* endText,
                         const std::function<void(CDataProtocol&, unsigned long)>& step);
};
