#include "bus/MelkoProtocol.h"

#include "base/ExitCode.h"
#include "base/Logger.h"
#include "bus/MelkoAction.h"
#include "bus/MelkoNetwork.h"
#include "bus/MelkoTele.h"
#include "bus/ModuleName.h"
#include "net/Timer.h"
#include "store/FileManager.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

const unsigned short PAUSE_AFTER_TEMPLATES_S = 2;
const unsigned short PAUSE_AFTER_CLEAN_S = 10;
const unsigned short PAUSE_AFTER_CLEAN_ALL_S = 20;

const unsigned char FIRST_FPM = CMelkoAction::ADDRESS_FIRST_FPM;
const unsigned char ALL_FPM = CMelkoAction::ADDRESS_ALL_FPM;

void log(const std::string& text, int level) {
    CLogger::getInstance()->log(text, level);
}

std::vector<char> allocateTemplateBuffer() {
    try {
        return std::vector<char>(CMelkoTele::INFO_CAPACITY, 0);
    } catch (const std::bad_alloc&) {
        logMemoryError();
        throw;
    }
}

bool contains(const std::vector<int>& list, int number) {
    return std::find(list.begin(), list.end(), number) != list.end();
}

} // namespace

std::string CMelkoProtocol::fpmKey(int number, const char* suffix) {
    return CModuleKeys::fpmKey(number, suffix);
}

CMelkoProtocol::CMelkoProtocol()
    : m_commands(m_exchange), m_transfer(m_exchange), m_masterAddress(0) {}

CMelkoProtocol::~CMelkoProtocol() {}

void CMelkoProtocol::initialize() {
    m_keys.bind(CFileManager::getInstance());
    m_exchange.bind(CMelkoNetwork::getInstance());
}

void CMelkoProtocol::setProgMode(bool on) {
    m_commands.setProgMode(on);
}

void CMelkoProtocol::resetBus(char address) {
    m_commands.resetBus(address);
}

bool CMelkoProtocol::isFPMAvailable(int number) {
    if (m_fpmList.empty()) {
        m_commands.getAllFPM(&m_fpmList);
    }
    return contains(m_fpmList, number);
}

bool CMelkoProtocol::setMasterFPM(int number) {
    m_fpmList.clear();
    m_commands.getAllFPM(&m_fpmList);
    m_masterAddress = FIRST_FPM + number;
    if (m_fpmList.empty()) {
        return false;
    }
    if (number <= 0 || contains(m_fpmList, number)) {
        return true;
    }
    failRun("Unkown source FPM.", EXIT_UNKNOWN_SOURCE_FPM);
}

// ---- Backup ----

void CMelkoProtocol::backupAllFPM() {
    m_keys.saveMaster(static_cast<unsigned char>(m_masterAddress));
    const bool masterMode = m_masterAddress > FIRST_FPM;
    for (int number : m_fpmList) {
        const unsigned char address = masterMode ? static_cast<unsigned char>(m_masterAddress)
                                                 : static_cast<unsigned char>(FIRST_FPM + number);
        backupModule(address);
        if (masterMode) {
            break;
        }
    }
    log("Backup of the FPMs finished.", 2);
}

// The CRC the module reports before its templates are read must still be
// its CRC afterwards: a backup that changed the module, or a module that
// someone else changed meanwhile, is no backup. A backup without a module's
// configuration or CRC is not complete: both are asked for like a template
// block, and the run fails (keeping the earlier file) when the module never
// gives them.
void CMelkoProtocol::backupModule(unsigned char address) {
    const char fpm = static_cast<char>(address);
    const int number = CModuleName::numberOf(address);
    m_commands.compDB(fpm);
    CMelkoTele before;
    m_commands.readCrc(fpm, &before);
    backupTemplates(address);
    CTimer timer;
    timer.wait(PAUSE_AFTER_TEMPLATES_S, CModuleName::label(address) + ": waiting");
    CMelkoTele cfg;
    m_commands.readCfg(fpm, &cfg);
    m_keys.saveCfg(number, &cfg);
    CMelkoTele after;
    m_commands.readCrc(fpm, &after);
    if (after.getInfoSize() != before.getInfoSize() ||
        memcmp(after.getInfoBytes(), before.getInfoBytes(),
               static_cast<size_t>(after.getInfoSize())) != 0) {
        failRun("FPM " + CModuleName::hex(address - FIRST_FPM) + " changed during the backup.",
                EXIT_FPM_CHANGED);
    }
    m_keys.saveCrc(number, &after);
}

// When the module stops answering, what was collected is still saved (the
// run then fails, so it ends up beside the earlier backup, never over it).
void CMelkoProtocol::backupTemplates(unsigned char address) {
    const std::string number = CModuleName::hex(address - FIRST_FPM);
    log("Backup finger prints from fpm " + number, 4);
    CMelkoTele templates;
    try {
        m_transfer.backupTemplates(address, &templates);
    } catch (int) {
        m_keys.saveTemplates(CModuleName::numberOf(address), &templates);
        throw;
    }
    m_keys.saveTemplates(CModuleName::numberOf(address), &templates);
    log("Backup finger prints from fpm " + number + " finished.", 4);
}

// ---- Restore ----

void CMelkoProtocol::restoreAllFPM() {
    std::vector<char> buffer = allocateTemplateBuffer();
    unsigned char master = 0;
    m_keys.readMaster(&master);
    std::vector<int> list;
    std::vector<int> onBus;
    generateFPMList(&list, master != 0, &onBus);
    const bool masterMode = master > FIRST_FPM;
    std::string wrongCrc;
    std::string notOnBus;
    for (int number : list) {
        // A module that is not there is not written: every write would time out.
        if (!masterMode && !contains(onBus, number)) {
            CModuleName::append(&notOnBus, number);
            continue;
        }
        std::fill(buffer.begin(), buffer.end(), 0);
        m_keys.readTemplates(static_cast<char>(number), buffer.data());
        char crc[CRC_SIZE] = {};
        m_keys.readCrc(static_cast<char>(number), crc);
        const unsigned char target =
            masterMode ? ALL_FPM : static_cast<unsigned char>(FIRST_FPM + number);
        restoreModule(target, buffer.data(), crc, &wrongCrc);
        if (masterMode) {
            break;
        }
    }
    finishRestore(wrongCrc, notOnBus);
}

// The restore's check of the file (CBackup::checkRestoreFile) has made sure
// that the source module is in the file (17) with a whole template area (7).
void CMelkoProtocol::restoreFPM(int from, int to) {
    std::vector<char> buffer = allocateTemplateBuffer();
    std::vector<int> fileList;
    generateFPMList(&fileList, false);
    unsigned char target = ALL_FPM;
    if (to > 0) {
        if (!isFPMAvailable(to)) {
            failRun("Destination FPM not found.", EXIT_DESTINATION_FPM_NOT_FOUND);
        }
        target = static_cast<unsigned char>(FIRST_FPM + to);
    }
    m_keys.readTemplates(static_cast<char>(from), buffer.data());
    char crc[CRC_SIZE] = {};
    m_keys.readCrc(static_cast<char>(from), crc);
    std::string wrongCrc;
    restoreModule(target, buffer.data(), crc, &wrongCrc);
    finishRestore(wrongCrc);
}

// Cleans the target, writes the templates and the configuration of the
// target's own number, and checks the CRC: of the one module, or of every
// module on the bus after a write to all of them.
void CMelkoProtocol::restoreModule(unsigned char target, const char* templates, const char* crc,
                                   std::string* wrongCrc) {
    CTimer timer;
    // A module counts as cleaned from the moment its clean is sent.
    std::vector<int> cleaned;
    if (target == ALL_FPM) {
        m_commands.getAllFPM(&cleaned);
        for (int number : cleaned) {
            m_cleanedNotRestored.push_back(number);
            m_commands.cleanFPM(static_cast<char>(FIRST_FPM + number));
        }
        timer.wait(PAUSE_AFTER_CLEAN_ALL_S, CModuleName::label(target) + ": cleaning");
    } else {
        m_cleanedNotRestored = {CModuleName::numberOf(target)};
        m_commands.cleanFPM(static_cast<char>(target));
        timer.wait(PAUSE_AFTER_CLEAN_S, CModuleName::label(target) + ": cleaning");
    }
    m_transfer.restoreTemplates(target, templates);
    timer.wait(PAUSE_AFTER_TEMPLATES_S, CModuleName::label(target) + ": waiting");
    if (!restoreFPMCfg(static_cast<char>(target))) {
        log("FPM configuration not restored.", 2);
    }
    m_cleanedNotRestored.clear();
    if (target == ALL_FPM) {
        *wrongCrc = m_commands.checkAllFPMCrc(cleaned, crc);
    } else if (!m_commands.checkFPMCrc(static_cast<char>(target), crc)) {
        CModuleName::append(wrongCrc, CModuleName::numberOf(target));
    }
}

void CMelkoProtocol::finishRestore(const std::string& wrongCrc, const std::string& notOnBus) {
    if (wrongCrc.empty() && notOnBus.empty()) {
        log("Restore of the FPM data finished", 2);
        return;
    }
    if (!notOnBus.empty()) {
        log("One or more FPM is not on the bus and was not restored. [" + notOnBus + "]", 1);
    }
    if (wrongCrc.empty()) {
        throw static_cast<int>(EXIT_FPM_NOT_RESTORED);
    }
    log("One ore more FPM has a wrong CRC. [" + wrongCrc + "]", 1);
    throw static_cast<int>(EXIT_WRONG_CRC);
}

void CMelkoProtocol::reportUnfinishedModules() const {
    for (int number : m_cleanedNotRestored) {
        log("FPM " + std::to_string(number) + " was cleaned and not restored", 1);
    }
}

// The configuration of the target's own number: a write to all modules
// (number 15) finds none.
bool CMelkoProtocol::restoreFPMCfg(char address) {
    char cfg[CFG_SIZE] = {};
    const int number = CModuleName::numberOf(static_cast<unsigned char>(address));
    if (m_keys.readCfg(static_cast<char>(number), cfg) == 0) {
        return false;
    }
    return m_commands.setFPMCfg(address, cfg);
}

void CMelkoProtocol::generateFPMList(std::vector<int>* list, bool quiet,
                                     std::vector<int>* foundOnBus) {
    std::vector<int> onBus;
    m_commands.getAllFPM(&onBus);
    if (foundOnBus != nullptr) {
        *foundOnBus = onBus;
    }
    for (int number = 1; number <= FPM_COUNT; ++number) {
        const bool busHasIt = contains(onBus, number);
        if (m_keys.holdsModule(number)) {
            if (!busHasIt) {
                log("Warning: The FPM " + CModuleName::hex(number) +
                        " does only exists in the file.",
                    2);
            }
            list->push_back(number);
        } else if (busHasIt && !quiet) {
            log("Warning: The FPM " + CModuleName::hex(number) + " does only exists on the bus.",
                2);
        }
    }
}

unsigned long CMelkoProtocol::readTemplatesFromFile(char number, char* buffer) {
    return m_keys.readTemplates(number, buffer);
}

int CMelkoProtocol::readFPMCfgFromFile(char number, char* buffer) {
    return m_keys.readCfg(number, buffer);
}

int CMelkoProtocol::readFPMCrcFromFile(char number, char* buffer) {
    return m_keys.readCrc(number, buffer);
}

void CMelkoProtocol::readMasterAddrFromFile(unsigned char* address) {
    m_keys.readMaster(address);
}
