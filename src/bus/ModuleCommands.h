#pragma once

#include <string>
#include <vector>

class CMelkoExchange;
class CMelkoTele;

// The commands to the finger print modules (FPM 1 to 8, bus address
// 0xC0 + number) and what their replies mean: the lookup of the modules on
// the bus, configuration and CRC, CompDB, clean, bus reset and programming
// mode, and the CRC check after a restore. Run-ending failures are logged
// and thrown as an int exit code.
class CModuleCommands {
public:
    // Modules 1 to FPM_COUNT; the backup file names them FPM<number>.
    static constexpr int FPM_COUNT = 8;
    static constexpr int CFG_SIZE = 5;
    static constexpr int CRC_SIZE = 5;

    explicit CModuleCommands(CMelkoExchange& exchange);
    CModuleCommands(const CModuleCommands&) = delete;
    CModuleCommands& operator=(const CModuleCommands&) = delete;

    bool lookupBusForId(unsigned char address);
    bool setFPMCfg(char address, const char* cfg);
    // A reply only counts when it decodes and comes from the address. A
    // retry asks again for what the last request asked.
    bool getFPMCfg(char address, CMelkoTele* reply, bool retry = false);
    bool getFPMCrc(char address, CMelkoTele* reply, bool retry = false);
    // The configuration or the CRC into reply, asked for like a template
    // block: six failures in a row end the run (11).
    void readCfg(char address, CMelkoTele* reply);
    void readCrc(char address, CMelkoTele* reply);
    void compDB(char address);
    void cleanFPM(char address);
    void resetBus(char address);
    void setProgMode(bool on);

    // Every address that did not answer its lookup is asked again, up to
    // twice, before its module counts as absent: one lost reply on a noisy
    // bus must not leave a module out.
    void getAllFPM(std::vector<int>* list);
    bool checkFPMCrc(char address, const char* expected);
    // Checks the modules of the list, the ones a write to all modules
    // reached; returns the numbers of those that failed, as "2, 5".
    std::string checkAllFPMCrc(const std::vector<int>& modules, const char* expected);

private:
    void readModuleValue(char address, bool (CModuleCommands::*request)(char, CMelkoTele*, bool),
                         CMelkoTele* reply);

    CMelkoExchange& m_exchange;
};
