#include "bus/MelkoProtocol.h"

#include "base/ExitCode.h"
#include "base/Logger.h"
#include "base/Progress.h"
#include "bus/MelkoAction.h"
#include "bus/MelkoFrame.h"
#include "bus/MelkoNetwork.h"
#include "bus/MelkoParser.h"
#include "bus/MelkoTele.h"
#include "net/Timer.h"
#include "store/FileManager.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

const unsigned long SEND_TIMEOUT_MS = 60000;
const unsigned long IDENT_TIMEOUT_MS = 1000;
const unsigned long CFG_TIMEOUT_MS = 10000;
const unsigned long COMP_DB_TIMEOUT_MS = 90000;
const unsigned long CLEAN_TIMEOUT_MS = 90000;
const unsigned long RESET_TIMEOUT_MS = 1000;
const unsigned long BLOCK_TIMEOUT_MS = 1000;
// Telegrams to a group need no reply; this long one is waited for.
const unsigned long GROUP_REPLY_TIMEOUT_MS = 300;
const unsigned long PROG_MODE_PAUSE_MS = 500;
const unsigned long RESEND_PAUSE_MS = 700;

const int PROG_MODE_SENDS = 3;
// A block is given up after this many attempts in a row without a usable reply.
const int MAX_ATTEMPTS = 6;
// A module is absent only when this many lookups in all went unanswered.
const int LOOKUP_ATTEMPTS = 3;
const int BLOCK_SIZE = 128;

const unsigned short PAUSE_AFTER_TEMPLATES_S = 2;
const unsigned short PAUSE_AFTER_CLEAN_S = 10;
const unsigned short PAUSE_AFTER_CLEAN_ALL_S = 20;

const unsigned char FIRST_FPM = CMelkoAction::ADDRESS_FIRST_FPM;
const unsigned char ALL_FPM = CMelkoAction::ADDRESS_ALL_FPM;
const unsigned char HEADER_SIZE = CMelkoFrame::HEADER_SIZE;

void log(const std::string& text, int level) {
    CLogger::getInstance()->log(text, level);
}

[[noreturn]] void failUnreachable() {
    failRun("Network unreachable.", EXIT_NETWORK_UNREACHABLE);
}

std::string hexText(int value) {
    char text[16];
    snprintf(text, sizeof(text), "%0x", static_cast<unsigned int>(value));
    return text;
}

// The FPM number of a bus address: 1 to 8 for 0xC1 to 0xC8, 15 for 0xCF.
int numberOf(unsigned char address) {
    return (address + 0x40) & 0xFF;
}

// Blocks of 128 bytes while they end inside the area, then the 48 bytes
// left, then 0, which ends the transfer.
int nextBlockSize(unsigned long dataAddress) {
    if (dataAddress + BLOCK_SIZE <= CMelkoProtocol::TEMPLATE_END - 1) {
        return BLOCK_SIZE;
    }
    return static_cast<signed char>((CMelkoProtocol::TEMPLATE_END - dataAddress) & 0xFF);
}

// How a module is named on the progress line.
std::string moduleLabel(unsigned char address) {
    return address == ALL_FPM ? "All FPMs" : "FPM " + std::to_string(address - FIRST_FPM);
}

void showTransfer(unsigned char address, const char* direction, unsigned long done, int retried) {
    CProgress::show(moduleLabel(address) + ": " + direction + " " +
                    std::to_string(done * 100 / CMelkoProtocol::TEMPLATE_SIZE) + " %, " +
                    std::to_string(retried) + " blocks retried");
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

void appendNumber(std::string* list, int number) {
    if (!list->empty()) {
        list->append(", ");
    }
    list->append(std::to_string(number));
}

} // namespace

std::string CMelkoProtocol::fpmKey(int number, const char* suffix) {
    return "FPM" + std::to_string(number) + "." + suffix;
}

CMelkoProtocol::CMelkoProtocol()
    : m_masterAddress(0), m_network(nullptr), m_fileManager(nullptr), m_lateReplies(0),
      m_lateReplyWaitMs(0) {}

CMelkoProtocol::~CMelkoProtocol() {}

void CMelkoProtocol::initialize() {
    m_fileManager = CFileManager::getInstance();
    m_network = CMelkoNetwork::getInstance();
}

// ---- The exchange ----

bool CMelkoProtocol::readPackage(CMelkoFrame* frame, unsigned char headerSize,
                                 unsigned long timeoutMs) {
    char request[CMelkoFrame::MAX_DATA_LENGTH];
    unsigned long length = 0;
    frame->getData(request, &length);
    const unsigned char destination = length > 1 ? static_cast<unsigned char>(request[1]) : 0;
    const bool replyOptional =
        destination == ALL_FPM || destination == CMelkoAction::ADDRESS_ALL_DEVICES;
    if (replyOptional) {
        timeoutMs = GROUP_REPLY_TIMEOUT_MS;
    }
    const int dataLength = m_network->receiveFrameHeader(frame, headerSize, timeoutMs);
    if (dataLength < 0 ||
        !m_network->receiveFrameData(frame, static_cast<unsigned long>(dataLength))) {
        return replyOptional;
    }
    return true;
}

bool CMelkoProtocol::receiveReply(CMelkoFrame* frame, unsigned long timeoutMs) {
    const int dataLength = m_network->receiveFrameHeader(frame, HEADER_SIZE, timeoutMs);
    return dataLength >= 0 &&
           m_network->receiveFrameData(frame, static_cast<unsigned long>(dataLength));
}

CMelkoProtocol::ReplyRule CMelkoProtocol::ruleFor(char address, unsigned char function,
                                                  int minInfo, int maxInfo) {
    return ReplyRule{static_cast<unsigned char>(address), function, minInfo, maxInfo};
}

bool CMelkoProtocol::awaitReply(const ReplyRule& rule, unsigned long timeoutMs, CMelkoTele* reply,
                                bool owed) {
    CTimer deadline;
    deadline.startTimeoutTimer(timeoutMs);
    CMelkoParser parser;
    CMelkoFrame frame;
    for (unsigned long left = timeoutMs; left > 0; left = deadline.getRemainingMillis()) {
        if (!receiveReply(&frame, left)) {
            break;
        }
        const int infoSize = parser.getTele(&frame, reply);
        if (infoSize >= rule.minInfo && infoSize <= rule.maxInfo &&
            static_cast<unsigned char>(reply->getSource()) == rule.source &&
            static_cast<unsigned char>(reply->getFunction()) == rule.function) {
            return true;
        }
        // Stale: the answer to an earlier request, perhaps one still owed.
        m_lateReplies = std::max(0, m_lateReplies - 1);
    }
    // No reply can come over a lost connection: that is no silent module.
    if (m_network->isLost()) {
        failUnreachable();
    }
    if (owed) {
        noteMissingReply(timeoutMs);
    }
    return false;
}

bool CMelkoProtocol::sendRequest(CMelkoFrame* frame, bool retry) {
    if (!retry) {
        drainLateReplies();
    }
    m_network->discardWaiting();
    return m_network->sendFrame(frame, SEND_TIMEOUT_MS);
}

void CMelkoProtocol::noteMissingReply(unsigned long timeoutMs) {
    ++m_lateReplies;
    m_lateReplyWaitMs = std::max(m_lateReplyWaitMs, timeoutMs);
}

void CMelkoProtocol::drainLateReplies() {
    if (m_lateReplies == 0) {
        return;
    }
    CTimer deadline;
    deadline.startTimeoutTimer(m_lateReplyWaitMs);
    CMelkoFrame frame;
    for (; m_lateReplies > 0; --m_lateReplies) {
        const unsigned long left = deadline.getRemainingMillis();
        const int length = left == 0 ? -1 : m_network->receiveFrameHeader(&frame, HEADER_SIZE, left);
        if (length < 0 || !m_network->receiveFrameData(&frame, static_cast<unsigned long>(length))) {
            break;
        }
    }
    m_lateReplies = 0;
    m_lateReplyWaitMs = 0;
}

// The reply is awaited even when the send failed; a broken connection then
// simply gives no reply.
bool CMelkoProtocol::exchangeFrom(CMelkoFrame* frame, const ReplyRule& rule,
                                  unsigned long timeoutMs, CMelkoTele* reply, bool retry) {
    sendRequest(frame, retry);
    return awaitReply(rule, timeoutMs, reply, true);
}

// ---- Module operations ----

bool CMelkoProtocol::lookupBusForId(unsigned char address) {
    CMelkoFrame frame;
    CMelkoAction action;
    action.buildIdentRequest(&frame, static_cast<char>(address));
    // An absent module owes nothing: its silence is no late reply to wait for.
    return sendRequest(&frame) &&
           awaitReply(ruleFor(static_cast<char>(address), CMelkoAction::FUNCTION_IDENT),
                      IDENT_TIMEOUT_MS, &m_ignoredReply, false);
}

bool CMelkoProtocol::setFPMCfg(char address, const char* cfg) {
    CMelkoFrame frame;
    CMelkoAction action;
    CMelkoTele reply;
    action.buildWriteCfgMsg(&frame, address, cfg, CFG_SIZE);
    return exchangeFrom(&frame, ruleFor(address, CMelkoAction::FUNCTION_CFG_WRITTEN),
                        CFG_TIMEOUT_MS, &reply);
}

bool CMelkoProtocol::getFPMCfg(char address, CMelkoTele* reply, bool retry) {
    CMelkoFrame frame;
    CMelkoAction action;
    action.buildReadCfgMsg(&frame, address);
    return exchangeFrom(&frame, ruleFor(address, CMelkoAction::FUNCTION_READ_CFG, CFG_SIZE),
                        CFG_TIMEOUT_MS, reply, retry);
}

bool CMelkoProtocol::getFPMCrc(char address, CMelkoTele* reply, bool retry) {
    CMelkoFrame frame;
    CMelkoAction action;
    action.buildCheckFunctionMsg(&frame, address, CMelkoAction::CHECK_READ_CRC);
    return exchangeFrom(&frame, ruleFor(address, CMelkoAction::FUNCTION_CHECK, 1), CFG_TIMEOUT_MS,
                        reply, retry);
}

void CMelkoProtocol::compDB(char address) {
    CMelkoFrame frame;
    CMelkoAction action;
    action.buildCompDBMsg(&frame, address);
    if (!sendRequest(&frame) || !awaitReply(ruleFor(address, CMelkoAction::FUNCTION_COMP_DB),
                                            COMP_DB_TIMEOUT_MS, &m_ignoredReply, false)) {
        failUnreachable();
    }
}

void CMelkoProtocol::cleanFPM(char address) {
    CMelkoFrame frame;
    CMelkoAction action;
    action.buildCleanFPMMsg(&frame, address);
    if (!sendRequest(&frame)) {
        failUnreachable();
    }
    // A module may clean without answering.
    awaitModuleReply(&frame, address, CMelkoAction::FUNCTION_CLEAN, CLEAN_TIMEOUT_MS);
}

void CMelkoProtocol::resetBus(char address) {
    CMelkoFrame frame;
    CMelkoAction action;
    action.buildResetBusMsg(&frame, address);
    if (!sendRequest(&frame)) {
        failUnreachable();
    }
    awaitModuleReply(&frame, address, CMelkoAction::FUNCTION_RESET_BUS, RESET_TIMEOUT_MS);
}

// A group owes no reply (readPackage waits briefly for one); a module's is
// awaited by the rule, stale replies dropped.
void CMelkoProtocol::awaitModuleReply(CMelkoFrame* frame, char address, unsigned char function,
                                      unsigned long timeoutMs) {
    const unsigned char target = static_cast<unsigned char>(address);
    if (target == ALL_FPM || target == CMelkoAction::ADDRESS_ALL_DEVICES) {
        readPackage(frame, HEADER_SIZE, timeoutMs);
        return;
    }
    awaitReply(ruleFor(address, function), timeoutMs, &m_ignoredReply, false);
}

void CMelkoProtocol::setProgMode(bool on) {
    CMelkoAction action;
    CTimer timer;
    for (int send = 0; send < PROG_MODE_SENDS; ++send) {
        CMelkoFrame frame;
        action.buildProgModeMsg(&frame, static_cast<char>(CMelkoAction::ADDRESS_ALL_DEVICES), on);
        if (!sendRequest(&frame)) {
            failUnreachable();
        }
        timer.waitMillis(PROG_MODE_PAUSE_MS);
    }
}

void CMelkoProtocol::getAllFPM(std::vector<int>* list) {
    bool found[FPM_COUNT + 1] = {};
    for (int round = 0; round < LOOKUP_ATTEMPTS; ++round) {
        for (int number = 1; number <= FPM_COUNT; ++number) {
            found[number] = found[number] ||
                            lookupBusForId(static_cast<unsigned char>(FIRST_FPM + number));
        }
    }
    for (int number = 1; number <= FPM_COUNT; ++number) {
        if (found[number]) {
            list->push_back(number);
        }
    }
}

bool CMelkoProtocol::isFPMAvailable(int number) {
    if (m_fpmList.empty()) {
        getAllFPM(&m_fpmList);
    }
    return contains(m_fpmList, number);
}

bool CMelkoProtocol::setMasterFPM(int number) {
    m_fpmList.clear();
    getAllFPM(&m_fpmList);
    m_masterAddress = FIRST_FPM + number;
    if (m_fpmList.empty()) {
        return false;
    }
    if (number <= 0 || contains(m_fpmList, number)) {
        return true;
    }
    failRun("Unkown source FPM.", EXIT_UNKNOWN_SOURCE_FPM);
}

void CMelkoProtocol::cleanAllFPM() {
    std::vector<int> list;
    getAllFPM(&list);
    for (int number : list) {
        cleanFPM(static_cast<char>(FIRST_FPM + number));
    }
}

// Only a reply of 1 to 5 bytes equal to the stored CRC passes: a longer
// one cannot be compared with the 5 bytes the file holds.
bool CMelkoProtocol::checkFPMCrc(char address, const char* expected) {
    CMelkoTele reply;
    const bool answered = getFPMCrc(address, &reply);
    const int size = reply.getInfoSize();
    const bool equal = size >= 1 && size <= CRC_SIZE &&
                       memcmp(reply.getInfoBytes(), expected, static_cast<size_t>(size)) == 0;
    if (answered && equal) {
        return true;
    }
    log("FPM " + hexText(static_cast<unsigned char>(address) - FIRST_FPM) + " has the wrong CRC.",
        2);
    return false;
}

std::string CMelkoProtocol::checkAllFPMCrc(const char* expected) {
    std::vector<int> list;
    getAllFPM(&list);
    return checkAllFPMCrc(list, expected);
}

std::string CMelkoProtocol::checkAllFPMCrc(const std::vector<int>& modules, const char* expected) {
    std::string failed;
    for (int number : modules) {
        if (!checkFPMCrc(static_cast<char>(FIRST_FPM + number), expected)) {
            appendNumber(&failed, number);
        }
    }
    return failed;
}

std::string CMelkoProtocol::buildFPMNo(unsigned char address, const std::string& /*text*/) {
    if (address == ALL_FPM) {
        return "[alle]";
    }
    char text[16];
    snprintf(text, sizeof(text), "%0d", address - FIRST_FPM);
    return text;
}

// ---- Backup ----

void CMelkoProtocol::backupAllFPM() {
    saveMasterAddr2File(static_cast<unsigned char>(m_masterAddress));
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
// someone else changed meanwhile, is no backup.
void CMelkoProtocol::backupModule(unsigned char address) {
    const char fpm = static_cast<char>(address);
    compDB(fpm);
    CMelkoTele before;
    readModuleValue(fpm, &CMelkoProtocol::getFPMCrc, &before);
    backupTemplates(address);
    CTimer timer;
    timer.wait(PAUSE_AFTER_TEMPLATES_S, moduleLabel(address) + ": waiting");
    backupFPMCfg(fpm);
    CMelkoTele after;
    readModuleValue(fpm, &CMelkoProtocol::getFPMCrc, &after);
    if (after.getInfoSize() != before.getInfoSize() ||
        memcmp(after.getInfoBytes(), before.getInfoBytes(),
               static_cast<size_t>(after.getInfoSize())) != 0) {
        failRun("FPM " + hexText(address - FIRST_FPM) + " changed during the backup.",
                EXIT_FPM_CHANGED);
    }
    saveFPMCrc2File(numberOf(address), &after);
}

// Every block is read, then echoed back to the module. When the module
// stops answering, what was collected is still saved (the run then fails,
// so it ends up beside the earlier backup, never over it).
void CMelkoProtocol::backupTemplates(unsigned char address) {
    const std::string number = hexText(address - FIRST_FPM);
    log("Backup finger prints from fpm " + number, 4);
    CMelkoTele templates;
    CMelkoTele reply;
    const bool progress = CProgress::isEnabled();
    int retried = 0;
    try {
        unsigned long dataAddress = TEMPLATE_START;
        for (int size = BLOCK_SIZE; size > 0; size = nextBlockSize(dataAddress)) {
            if (!readBlock(address, dataAddress, size, &reply, &retried)) {
                failUnreachable();
            }
            templates.setSource(reply.getSource());
            templates.appendInfoBytes(reply.getInfoBytes(), size);
            if (!echoBlock(address, dataAddress, reply.getInfoBytes(), size, &retried)) {
                failUnreachable();
            }
            dataAddress += static_cast<unsigned long>(size);
            if (progress) {
                showTransfer(address, "backup", dataAddress - TEMPLATE_START, retried);
            }
        }
    } catch (int) {
        CProgress::clear();
        saveTemplates2File(numberOf(address), &templates);
        throw;
    }
    CProgress::clear();
    saveTemplates2File(numberOf(address), &templates);
    log("Backup finger prints from fpm " + number + " finished.", 4);
}

// Only a reply that decodes, comes from the addressed module and carries
// exactly the requested byte count holds the block; anything else is
// retried like a missing reply.
bool CMelkoProtocol::readBlock(unsigned char address, unsigned long dataAddress, int size,
                               CMelkoTele* reply, int* retried) {
    CMelkoFrame frame;
    CMelkoAction action;
    const ReplyRule rule =
        ruleFor(static_cast<char>(address), CMelkoAction::FUNCTION_READ_DATA, size, size);
    char earlier[BLOCK_SIZE];
    bool haveEarlier = false;
    int failures = 0;
    for (int read = 0; failures < MAX_ATTEMPTS; ++read) {
        action.buildReadDataMsg(&frame, static_cast<char>(address), dataAddress, size);
        if (!sendRequest(&frame, read > 0)) {
            failUnreachable();
        }
        if (!awaitReply(rule, BLOCK_TIMEOUT_MS, reply, true)) {
            *retried += ++failures == 1 ? 1 : 0;
            continue;
        }
        const size_t length = static_cast<size_t>(size);
        if (haveEarlier && memcmp(earlier, reply->getInfoBytes(), length) == 0) {
            return true;
        }
        if (haveEarlier) {
            *retried += ++failures == 1 ? 1 : 0;
        }
        memcpy(earlier, reply->getInfoBytes(), length);
        haveEarlier = true;
    }
    return false;
}

bool CMelkoProtocol::echoBlock(unsigned char address, unsigned long dataAddress, const char* data,
                               int size, int* retried) {
    CMelkoFrame frame;
    CMelkoAction action;
    CTimer timer;
    for (int attempt = 0; attempt < MAX_ATTEMPTS; ++attempt) {
        if (attempt > 0) {
            *retried += attempt == 1 ? 1 : 0;
            timer.waitMillis(RESEND_PAUSE_MS);
        }
        action.buildWriteDataMsg(&frame, static_cast<char>(address), dataAddress, data, size);
        if (!sendRequest(&frame, attempt > 0)) {
            // The next read request finds out whether the connection is gone.
            log("Network unreachable.", 1);
            return true;
        }
        if (writeAnswered(&frame, address)) {
            return true;
        }
    }
    return false;
}

// A block write to a group needs no reply; a module acknowledges it.
bool CMelkoProtocol::writeAnswered(CMelkoFrame* frame, unsigned char address) {
    if (address == ALL_FPM) {
        return readPackage(frame, HEADER_SIZE, BLOCK_TIMEOUT_MS);
    }
    return awaitReply(ruleFor(static_cast<char>(address), CMelkoAction::FUNCTION_WRITE_DATA),
                      BLOCK_TIMEOUT_MS, &m_ignoredReply, true);
}

// A backup without a module's configuration or CRC is not complete: the
// request is repeated like a template block's, and the run fails (keeping
// the earlier file) when the module never gives it.
void CMelkoProtocol::backupFPMCfg(char address) {
    CMelkoTele reply;
    readModuleValue(address, &CMelkoProtocol::getFPMCfg, &reply);
    saveFPMCfg2File(numberOf(static_cast<unsigned char>(address)), &reply);
}

void CMelkoProtocol::backupFPMCrc(char address) {
    CMelkoTele reply;
    readModuleValue(address, &CMelkoProtocol::getFPMCrc, &reply);
    saveFPMCrc2File(numberOf(static_cast<unsigned char>(address)), &reply);
}

void CMelkoProtocol::readModuleValue(char address,
                                     bool (CMelkoProtocol::*request)(char, CMelkoTele*, bool),
                                     CMelkoTele* reply) {
    for (int attempt = 0; attempt < MAX_ATTEMPTS; ++attempt) {
        if ((this->*request)(address, reply, attempt > 0)) {
            return;
        }
    }
    failUnreachable();
}

void CMelkoProtocol::saveTemplates2File(int number, CMelkoTele* templates) {
    const unsigned long count = static_cast<unsigned long>(templates->getInfoSize());
    m_fileManager->writeData(fpmKey(number, "DataLength"), static_cast<long>(count));
    if (count > 0) {
        m_fileManager->writeData(fpmKey(number, "Data"), templates->getInfoBytes(), count);
    }
}

void CMelkoProtocol::saveFPMCfg2File(int number, CMelkoTele* reply) {
    if (reply->getInfoSize() > CFG_SIZE - 1) {
        m_fileManager->writeData(fpmKey(number, "CFG"), reply->getInfoBytes(), CFG_SIZE);
    }
}

void CMelkoProtocol::saveFPMCrc2File(int number, CMelkoTele* reply) {
    if (reply->getInfoSize() > 0) {
        m_fileManager->writeData(fpmKey(number, "CRC"), reply->getInfoBytes(),
                                 static_cast<unsigned long>(reply->getInfoSize()));
    }
}

void CMelkoProtocol::saveMasterAddr2File(unsigned char address) {
    m_fileManager->writeData(MASTER_KEY, static_cast<long>(address));
}

// ---- Restore ----

void CMelkoProtocol::restoreAllFPM() {
    std::vector<char> buffer = allocateTemplateBuffer();
    unsigned char master = 0;
    readMasterAddrFromFile(&master);
    std::vector<int> list;
    std::vector<int> onBus;
    generateFPMList(&list, master != 0, &onBus);
    const bool masterMode = master > FIRST_FPM;
    std::string wrongCrc;
    std::string notOnBus;
    for (int number : list) {
        // A module that is not there is not written: every write would time out.
        if (!masterMode && !contains(onBus, number)) {
            appendNumber(&notOnBus, number);
            continue;
        }
        std::fill(buffer.begin(), buffer.end(), 0);
        const unsigned long count = readTemplatesFromFile(static_cast<char>(number), buffer.data());
        char crc[CRC_SIZE] = {};
        readFPMCrcFromFile(static_cast<char>(number), crc);
        const unsigned char target =
            masterMode ? ALL_FPM : static_cast<unsigned char>(FIRST_FPM + number);
        restoreModule(target, buffer.data(), count, crc, &wrongCrc);
        if (masterMode) {
            break;
        }
    }
    finishRestore(wrongCrc, notOnBus);
}

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
    const unsigned long count = readTemplatesFromFile(static_cast<char>(from), buffer.data());
    if (count == 0) {
        failRun("Unkown source FPM.", EXIT_UNKNOWN_SOURCE_FPM);
    }
    char crc[CRC_SIZE] = {};
    readFPMCrcFromFile(static_cast<char>(from), crc);
    std::string wrongCrc;
    restoreModule(target, buffer.data(), count, crc, &wrongCrc);
    finishRestore(wrongCrc);
}

// Cleans the target, writes the templates and the configuration of the
// target's own number, and checks the CRC: of the one module, or of every
// module on the bus after a write to all of them.
void CMelkoProtocol::restoreModule(unsigned char target, const char* templates, unsigned long count,
                                   const char* crc, std::string* wrongCrc) {
    CTimer timer;
    // A module counts as cleaned from the moment its clean is sent.
    std::vector<int> cleaned;
    if (target == ALL_FPM) {
        getAllFPM(&cleaned);
        for (int number : cleaned) {
            m_cleanedNotRestored.push_back(number);
            cleanFPM(static_cast<char>(FIRST_FPM + number));
        }
        timer.wait(PAUSE_AFTER_CLEAN_ALL_S, moduleLabel(target) + ": cleaning");
    } else {
        m_cleanedNotRestored = {numberOf(target)};
        cleanFPM(static_cast<char>(target));
        timer.wait(PAUSE_AFTER_CLEAN_S, moduleLabel(target) + ": cleaning");
    }
    restoreTemplates(target, templates, count);
    timer.wait(PAUSE_AFTER_TEMPLATES_S, moduleLabel(target) + ": waiting");
    if (!restoreFPMCfg(static_cast<char>(target))) {
        log("FPM configuration not restored.", 2);
    }
    m_cleanedNotRestored.clear();
    if (target == ALL_FPM) {
        *wrongCrc = checkAllFPMCrc(cleaned, crc);
    } else if (!checkFPMCrc(static_cast<char>(target), crc)) {
        appendNumber(wrongCrc, numberOf(target));
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

// The whole template area is written, whatever count the file recorded:
// the buffer holds zeros past it.
void CMelkoProtocol::restoreTemplates(unsigned char address, const char* data,
                                      unsigned long /*count*/) {
    const std::string target = hexText(address);
    log("Restore finger prints to " + target, 4);
    CMelkoFrame frame;
    CMelkoAction action;
    CTimer timer;
    const bool progress = CProgress::isEnabled();
    unsigned long offset = 0;
    int missing = 0;
    int retried = 0;
    for (int size = BLOCK_SIZE; size > 0;) {
        action.buildWriteDataMsg(&frame, static_cast<char>(address), TEMPLATE_START + offset,
                                 data + offset, size);
        if (!sendRequest(&frame, missing > 0)) {
            failUnreachable();
        }
        if (writeAnswered(&frame, address)) {
            missing = 0;
            offset += static_cast<unsigned long>(size);
            size = nextBlockSize(TEMPLATE_START + offset);
            if (progress) {
                showTransfer(address, "restore", offset, retried);
            }
            continue;
        }
        retried += missing == 0 ? 1 : 0;
        if (progress) {
            showTransfer(address, "restore", offset, retried);
        }
        timer.waitMillis(RESEND_PAUSE_MS);
        if (++missing >= MAX_ATTEMPTS) {
            CProgress::clear();
            failUnreachable();
        }
    }
    CProgress::clear();
    log("Restore finger prints to " + target + " finished.", 4);
}

bool CMelkoProtocol::restoreFPMCfg(char address) {
    char cfg[CFG_SIZE] = {};
    if (readFPMCfgFromFile(static_cast<char>(numberOf(static_cast<unsigned char>(address))), cfg) ==
        0) {
        return false;
    }
    return setFPMCfg(address, cfg);
}

void CMelkoProtocol::generateFPMList(std::vector<int>* list, bool quiet,
                                     std::vector<int>* foundOnBus) {
    std::vector<int> onBus;
    getAllFPM(&onBus);
    if (foundOnBus != nullptr) {
        *foundOnBus = onBus;
    }
    for (int number = 1; number <= FPM_COUNT; ++number) {
        const bool busHasIt = contains(onBus, number);
        if (m_fileManager->hasKey(fpmKey(number, "DataLength"))) {
            if (!busHasIt) {
                log("Warning: The FPM " + hexText(number) + " does only exists in the file.", 2);
            }
            list->push_back(number);
        } else if (busHasIt && !quiet) {
            log("Warning: The FPM " + hexText(number) + " does only exists on the bus.", 2);
        }
    }
}

unsigned long CMelkoProtocol::readTemplatesFromFile(char number, char* buffer) {
    const int count = m_fileManager->getDataDWord(fpmKey(number, "DataLength"));
    if (count <= 0) {
        return 0;
    }
    const int kept = std::min(count, static_cast<int>(TEMPLATE_SIZE));
    m_fileManager->getData(fpmKey(number, "Data"), buffer, kept);
    return static_cast<unsigned long>(kept);
}

int CMelkoProtocol::readFPMCfgFromFile(char number, char* buffer) {
    if (!m_fileManager->getData(fpmKey(number, "CFG"), buffer, CFG_SIZE)) {
        return 0;
    }
    return CFG_SIZE;
}

int CMelkoProtocol::readFPMCrcFromFile(char number, char* buffer) {
    m_fileManager->getData(fpmKey(number, "CRC"), buffer, CRC_SIZE);
    return CRC_SIZE;
}

void CMelkoProtocol::readMasterAddrFromFile(unsigned char* address) {
    *address = static_cast<unsigned char>(m_fileManager->getDataDWord(MASTER_KEY));
}
