#pragma once

#include "bus/MelkoExchange.h"
#include "bus/ModuleCommands.h"
#include "bus/ModuleKeys.h"
#include "bus/TemplateTransfer.h"

#include <string>
#include <vector>

// The tool's view of the finger print modules (FPM 1 to 8, bus address
// 0xC0 + number) for the runs: which modules take part, and the backup and
// restore of each module's templates, configuration and CRC through the
// backup file. Its parts do the work: the exchange on the bus
// (CMelkoExchange), the module commands (CModuleCommands), the template
// transfers (CTemplateTransfer) and the module keys of the backup file
// (CModuleKeys). Run-ending failures are logged and thrown as an int exit
// code.
class CMelkoProtocol {
public:
    static constexpr unsigned long TEMPLATE_START = CTemplateTransfer::TEMPLATE_START;
    static constexpr unsigned long TEMPLATE_END = CTemplateTransfer::TEMPLATE_END;
    static constexpr unsigned long TEMPLATE_SIZE = CTemplateTransfer::TEMPLATE_SIZE;
    static constexpr int CFG_SIZE = CModuleCommands::CFG_SIZE;
    static constexpr int CRC_SIZE = CModuleCommands::CRC_SIZE;
    static constexpr int FPM_COUNT = CModuleCommands::FPM_COUNT;
    static constexpr const char* MASTER_KEY = CModuleKeys::MASTER_KEY;

    static std::string fpmKey(int number, const char* suffix);

    CMelkoProtocol();
    virtual ~CMelkoProtocol();
    // Its parts share one exchange.
    CMelkoProtocol(const CMelkoProtocol&) = delete;
    CMelkoProtocol& operator=(const CMelkoProtocol&) = delete;

    // Binds the parts to the bus connection and the backup file.
    void initialize();

    void setProgMode(bool on);
    void resetBus(char address);
    bool isFPMAvailable(int number);
    bool setMasterFPM(int number);

    // Backup side.
    void backupAllFPM();

    // Restore side.
    void restoreAllFPM();
    void restoreFPM(int from, int to);
    // onBus, when given, receives the modules the scan found.
    void generateFPMList(std::vector<int>* list, bool quiet, std::vector<int>* onBus = nullptr);
    // Logs at level 1 each module that a failed or interrupted restore has
    // cleaned but not written completely, so that the restore is run again.
    void reportUnfinishedModules() const;
    unsigned long readTemplatesFromFile(char number, char* buffer);
    int readFPMCfgFromFile(char number, char* buffer);
    int readFPMCrcFromFile(char number, char* buffer);
    void readMasterAddrFromFile(unsigned char* address);

private:
    // One module: its CRC before and after the templates, which must agree.
    void backupModule(unsigned char address);
    void backupTemplates(unsigned char address);
    void restoreModule(unsigned char target, const char* templates, const char* crc,
                       std::string* wrongCrc);
    bool restoreFPMCfg(char address);
    // Logs the result; throws 9 when a module failed its CRC check, else 13
    // when a module of the file was not on the bus.
    void finishRestore(const std::string& wrongCrc, const std::string& notOnBus = std::string());

    CMelkoExchange m_exchange;
    CModuleCommands m_commands;
    CTemplateTransfer m_transfer;
    CModuleKeys m_keys;
    std::vector<int> m_fpmList;
    int m_masterAddress;
    // Cleaned by this restore and not yet written again.
    std::vector<int> m_cleanedNotRestored;
};
