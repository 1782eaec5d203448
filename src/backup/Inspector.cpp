#include "backup/Inspector.h"

#include "bus/MelkoAction.h"
#include "bus/MelkoProtocol.h"
#include "controller/DataProtocol.h"

namespace {

const size_t SHORT_TEXT_LENGTH = 40;

std::string moduleName(int number) {
    return "FPM" + std::to_string(number);
}

std::string keyOf(int number, const char* suffix) {
    return CMelkoProtocol::fpmKey(number, suffix);
}

} // namespace

CInspector::CInspector(const CBackupContent& content, Scope scope) : m_content(content) {
    if (scope != Scope::Modules) {
        checkVersion(scope);
        checkDataSets();
    }
    checkMaster(scope);
    checkModules();
}

bool CInspector::isDamaged() const {
    for (const Problem& problem : m_problems) {
        if (problem.damage) {
            return true;
        }
    }
    return false;
}

std::string CInspector::shortText(const std::string& text) {
    std::string result;
    for (size_t i = 0; i < text.size() && i < SHORT_TEXT_LENGTH; ++i) {
        const unsigned char byte = static_cast<unsigned char>(text[i]);
        result += byte >= 0x20 && byte < 0x7F ? text[i] : '?';
    }
    return text.size() > SHORT_TEXT_LENGTH ? result + "..." : result;
}

void CInspector::checkVersion(Scope scope) {
    const Number& version = m_content.version();
    if (scope == Scope::Restore) {
        if (!version.present) {
            addGap(std::string(CDataProtocol::VERSION_KEY) + " is missing");
        }
        return;
    }
    if (checkNumber(version, CDataProtocol::VERSION_KEY) &&
        version.value < CDataProtocol::OLDEST_FILE_VERSION) {
        addGap("interface version " + std::to_string(version.value) + " is older than " +
               std::to_string(CDataProtocol::OLDEST_FILE_VERSION) +
               ", the oldest a restore accepts");
    }
}

void CInspector::checkDataSets() {
    for (int dataId = 0; dataId < CDataProtocol::DATA_SET_COUNT; ++dataId) {
        const CBackupContent::DataSet& set = m_content.dataSets()[dataId];
        const unsigned long largest = CDataProtocol::MAX_DATA_SET_LENGTH;
        if (set.length.valid && static_cast<unsigned long>(set.length.value) > largest) {
            addGap(CDataProtocol::lengthKey(dataId) + " is " + std::to_string(set.length.value) +
                   ", more than the largest data set of " + std::to_string(largest) + " bytes");
            continue;
        }
        checkLengthAndData(set.length, set.data, CDataProtocol::lengthKey(dataId),
                           CDataProtocol::dataKey(dataId));
    }
}

// A restore writes the master's data to every module, so the master has to
// be the one module the file holds.
void CInspector::checkMaster(Scope scope) {
    const Number& master = m_content.master();
    if (scope != Scope::Site && (!master.present || (master.valid && master.value == 0))) {
        return;
    }
    if (!checkNumber(master, CMelkoProtocol::MASTER_KEY)) {
        return;
    }
    const int masterNumber = m_content.masterModule();
    if (masterNumber < 0) {
        const int first = CMelkoAction::ADDRESS_FIRST_FPM;
        addGap(std::string(CMelkoProtocol::MASTER_KEY) + " is " + std::to_string(master.value) +
               ", not " + std::to_string(first) + " to " +
               std::to_string(first + CMelkoProtocol::FPM_COUNT));
        return;
    }
    if (masterNumber == 0) {
        return;
    }
    const std::string name = moduleName(masterNumber);
    if (!m_content.modules()[masterNumber - 1].inFile()) {
        addGap("master-mode file of " + name + ", but " + name + " is not in the file");
    }
    for (const Module& module : m_content.modules()) {
        if (module.number != masterNumber && module.inFile()) {
            addGap("master-mode file of " + name + " also holds " + moduleName(module.number));
        }
    }
}

void CInspector::checkModules() {
    int held = 0;
    for (const Module& module : m_content.modules()) {
        if (module.inFile()) {
            ++held;
            checkModule(module);
        } else if (module.hasAnyKey()) {
            addGap(moduleName(module.number) + " has keys but no " +
                   keyOf(module.number, "DataLength") + ", so a restore skips it");
        }
    }
    if (held == 0) {
        addGap("no finger print module in the file");
    }
}

void CInspector::checkModule(const Module& module) {
    const int number = module.number;
    checkLengthAndData(module.length, module.data, keyOf(number, "DataLength"),
                       keyOf(number, "Data"));
    const unsigned long area = CMelkoProtocol::TEMPLATE_SIZE;
    if (module.length.valid && static_cast<unsigned long>(module.length.value) > area) {
        addGap(keyOf(number, "DataLength") + " is " + std::to_string(module.length.value) +
               ", more than a template area of " + std::to_string(area) + " bytes");
    } else if (module.length.valid && static_cast<unsigned long>(module.length.value) < area) {
        addGap(moduleName(number) + " holds " + std::to_string(module.length.value) +
               " template bytes, not " + std::to_string(area));
    }
    checkSizedBlock(module.cfg, keyOf(number, "CFG"), CMelkoProtocol::CFG_SIZE);
    checkSizedBlock(module.crc, keyOf(number, "CRC"), CMelkoProtocol::CRC_SIZE);
}

// An empty block is stored as a length of 0 without data.
void CInspector::checkLengthAndData(const Number& length, const Block& data,
                                    const std::string& lengthKey, const std::string& dataKey) {
    const bool lengthKnown = checkNumber(length, lengthKey);
    if (!data.present) {
        if (lengthKnown && length.value > 0) {
            addGap(dataKey + " is missing");
        }
        return;
    }
    if (!checkBlock(data, dataKey) || !lengthKnown) {
        return;
    }
    if (data.size != static_cast<unsigned long>(length.value)) {
        addDamage(dataKey + " decodes to " + std::to_string(data.size) + " bytes, but " +
                  lengthKey + " is " + std::to_string(length.value));
    }
}

void CInspector::checkSizedBlock(const Block& block, const std::string& key, unsigned long size) {
    if (checkBlock(block, key) && block.size != size) {
        addGap(key + " holds " + std::to_string(block.size) + " bytes, not " +
               std::to_string(size));
    }
}

bool CInspector::checkNumber(const Number& number, const std::string& key) {
    if (!number.present) {
        addGap(key + " is missing");
        return false;
    }
    if (!number.valid) {
        addDamage(key + " is not a decimal number: '" + shortText(number.text) + "'");
        return false;
    }
    return true;
}

bool CInspector::checkBlock(const Block& block, const std::string& key) {
    if (!block.present) {
        addGap(key + " is missing");
        return false;
    }
    if (!block.valid) {
        addDamage(key + " is not valid Base64");
        return false;
    }
    return true;
}
