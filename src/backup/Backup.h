#pragma once

#include <functional>
#include <string>

class CDataProtocol;

// Orchestrates one backup or restore run against the controller.
class CBackup {
public:
    CBackup() = default;
    virtual ~CBackup() = default;

    // Connects to the controller's data service, reads its interface
    // version and, above version 106, checks the 'Service' password.
    // Returns the version and leaves the connection open; throws 1, 2 or 3.
    unsigned long checkSecurity(std::string ipAddress, std::string password);

    void backupController(std::string ipAddress, std::string password);
    void restoreController(std::string ipAddress, std::string password);

private:
    void runOnController(std::string ipAddress, std::string password, const char* startText,
                         const char* endText,
                         const std::function<void(CDataProtocol&, unsigned long)>& step);
};
