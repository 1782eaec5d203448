#include "bus/ModuleCommands.h"

#include "base/Logger.h"
#include "bus/MelkoAction.h"
#include "bus/MelkoExchange.h"
#include "bus/MelkoFrame.h"
#include "bus/MelkoTele.h"
#include "bus/ModuleName.h"
#include "net/Timer.h"

#include <cstring>

namespace {

const unsigned long IDENT_TIMEOUT_MS = 1000;
const unsigned long CFG_TIMEOUT_MS = 10000;
const unsigned long COMP_DB_TIMEOUT_MS = 90000;
const unsigned long CLEAN_TIMEOUT_MS = 90000;
const unsigned long RESET_TIMEOUT_MS = 1000;
const unsigned long PROG_MODE_PAUSE_MS = 500;

const int PROG_MODE_SENDS = 3;
// A value is given up after this many attempts in a row without a usable reply.
const int MAX_ATTEMPTS = 6;
// A module is absent only when this many lookups in all went unanswered.
const int LOOKUP_ATTEMPTS = 3;

const unsigned char FIRST_FPM = CMelkoAction::ADDRESS_FIRST_FPM;

} // namespace

CModuleCommands::CModuleCommands(CMelkoExchange& exchange) : m_exchange(exchange) {}

bool CModuleCommands::lookupBusForId(unsigned char address) {
    CMelkoFrame frame;
    CMelkoAction action;
    action.buildIdentRequest(&frame, static_cast<char>(address));
    // An absent module owes nothing: its silence is no late reply to wait for.
    return m_exchange.sendRequest(&frame) &&
           m_exchange.awaitAnswer(&frame, static_cast<char>(address), CMelkoAction::FUNCTION_IDENT,
                                  IDENT_TIMEOUT_MS, false);
}

bool CModuleCommands::setFPMCfg(char address, const char* cfg) {
    CMelkoFrame frame;
    CMelkoAction action;
    CMelkoTele reply;
    action.buildWriteCfgMsg(&frame, address, cfg, CFG_SIZE);
    return m_exchange.exchange(&frame,
                               CMelkoExchange::ruleFor(address, CMelkoAction::FUNCTION_CFG_WRITTEN),
                               CFG_TIMEOUT_MS, &reply);
}

bool CModuleCommands::getFPMCfg(char address, CMelkoTele* reply, bool retry) {
    CMelkoFrame frame;
    CMelkoAction action;
    action.buildReadCfgMsg(&frame, address);
    return m_exchange.exchange(
        &frame, CMelkoExchange::ruleFor(address, CMelkoAction::FUNCTION_READ_CFG, CFG_SIZE),
        CFG_TIMEOUT_MS, reply, retry);
}

bool CModuleCommands::getFPMCrc(char address, CMelkoTele* reply, bool retry) {
    CMelkoFrame frame;
    CMelkoAction action;
    action.buildCheckFunctionMsg(&frame, address, CMelkoAction::CHECK_READ_CRC);
    return m_exchange.exchange(&frame,
                               CMelkoExchange::ruleFor(address, CMelkoAction::FUNCTION_CHECK, 1),
                               CFG_TIMEOUT_MS, reply, retry);
}

void CModuleCommands::readCfg(char address, CMelkoTele* reply) {
    readModuleValue(address, &CModuleCommands::getFPMCfg, reply);
}

void CModuleCommands::readCrc(char address, CMelkoTele* reply) {
    readModuleValue(address, &CModuleCommands::getFPMCrc, reply);
}

void CModuleCommands::readModuleValue(char address,
                                      bool (CModuleCommands::*request)(char, CMelkoTele*, bool),
                                      CMelkoTele* reply) {
    for (int attempt = 0; attempt < MAX_ATTEMPTS; ++attempt) {
        if ((this->*request)(address, reply, attempt > 0)) {
            return;
        }
    }
    CMelkoExchange::failUnreachable();
}

void CModuleCommands::compDB(char address) {
    CMelkoFrame frame;
    CMelkoAction action;
    action.buildCompDBMsg(&frame, address);
    if (!m_exchange.sendRequest(&frame) ||
        !m_exchange.awaitAnswer(&frame, address, CMelkoAction::FUNCTION_COMP_DB, COMP_DB_TIMEOUT_MS,
                                false)) {
        CMelkoExchange::failUnreachable();
    }
}

// A module may clean without answering.
void CModuleCommands::cleanFPM(char address) {
    CMelkoFrame frame;
    CMelkoAction action;
    action.buildCleanFPMMsg(&frame, address);
    if (!m_exchange.sendRequest(&frame)) {
        CMelkoExchange::failUnreachable();
    }
    m_exchange.awaitAnswer(&frame, address, CMelkoAction::FUNCTION_CLEAN, CLEAN_TIMEOUT_MS, false);
}

void CModuleCommands::resetBus(char address) {
    CMelkoFrame frame;
    CMelkoAction action;
    action.buildResetBusMsg(&frame, address);
    if (!m_exchange.sendRequest(&frame)) {
        CMelkoExchange::failUnreachable();
    }
    m_exchange.awaitAnswer(&frame, address, CMelkoAction::FUNCTION_RESET_BUS, RESET_TIMEOUT_MS,
                           false);
}

void CModuleCommands::setProgMode(bool on) {
    CMelkoAction action;
    CTimer timer;
    for (int send = 0; send < PROG_MODE_SENDS; ++send) {
        CMelkoFrame frame;
        action.buildProgModeMsg(&frame, static_cast<char>(CMelkoAction::ADDRESS_ALL_DEVICES), on);
        if (!m_exchange.sendRequest(&frame)) {
            CMelkoExchange::failUnreachable();
        }
        timer.waitMillis(PROG_MODE_PAUSE_MS);
    }
}

void CModuleCommands::getAllFPM(std::vector<int>* list) {
    bool found[FPM_COUNT + 1] = {};
    for (int round = 0; round < LOOKUP_ATTEMPTS; ++round) {
        for (int number = 1; number <= FPM_COUNT; ++number) {
            found[number] =
                found[number] || lookupBusForId(static_cast<unsigned char>(FIRST_FPM + number));
        }
    }
    for (int number = 1; number <= FPM_COUNT; ++number) {
        if (found[number]) {
            list->push_back(number);
        }
    }
}

// Only a reply of 1 to 5 bytes equal to the stored CRC passes: a longer
// one cannot be compared with the 5 bytes the file holds.
bool CModuleCommands::checkFPMCrc(char address, const char* expected) {
    CMelkoTele reply;
    const bool answered = getFPMCrc(address, &reply);
    const int size = reply.getInfoSize();
    const bool equal = size >= 1 && size <= CRC_SIZE &&
                       memcmp(reply.getInfoBytes(), expected, static_cast<size_t>(size)) == 0;
    if (answered && equal) {
        return true;
    }
    CLogger::getInstance()->log(
        "FPM " + CModuleName::hex(static_cast<unsigned char>(address) - FIRST_FPM) +
            " has the wrong CRC.",
        2);
    return false;
}

std::string CModuleCommands::checkAllFPMCrc(const std::vector<int>& modules, const char* expected) {
    std::string failed;
    for (int number : modules) {
        if (!checkFPMCrc(static_cast<char>(FIRST_FPM + number), expected)) {
            CModuleName::append(&failed, number);
        }
    }
    return failed;
}
