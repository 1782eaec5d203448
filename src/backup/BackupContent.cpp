#include "backup/BackupContent.h"

#include "bus/MelkoAction.h"
#include "bus/MelkoProtocol.h"
#include "controller/DataProtocol.h"
#include "store/FileManager.h"

#include <climits>

namespace {

bool isDecimal(const std::string& text) {
    return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
}

std::string withoutLeadingZeros(const std::string& digits) {
    size_t first = digits.find_first_not_of('0');
    return first == std::string::npos ? "0" : digits.substr(first);
}

} // namespace

bool CBackupContent::load(const std::string& path) {
    m_path = path;
    if (path.empty()) {
        return false;
    }
    CFileManager* files = CFileManager::getInstance();
    files->setFileName(path);
    try {
        readAll(files, true);
    } catch (int) {
        // The store throws its exit status when the file cannot be read.
        return false;
    }
    return true;
}

void CBackupContent::readForCheck(CFileManager* files) {
    m_path = files->getFileName();
    readAll(files, false);
}

void CBackupContent::readAll(CFileManager* files, bool withBytes) {
    m_version = readNumber(files, CDataProtocol::VERSION_KEY);
    m_dataSets.clear();
    for (int dataId = 0; dataId < CDataProtocol::DATA_SET_COUNT; ++dataId) {
        DataSet set;
        set.name = CDataProtocol::dataSetName(dataId);
        set.length = readNumber(files, CDataProtocol::lengthKey(dataId));
        set.data = readBlock(files, CDataProtocol::dataKey(dataId), withBytes);
        m_dataSets.push_back(set);
    }
    m_master = readNumber(files, CMelkoProtocol::MASTER_KEY);
    m_modules.clear();
    for (int number = 1; number <= CMelkoProtocol::FPM_COUNT; ++number) {
        Module module;
        module.number = number;
        module.length = readNumber(files, CMelkoProtocol::fpmKey(number, "DataLength"));
        module.data = readBlock(files, CMelkoProtocol::fpmKey(number, "Data"), withBytes);
        module.cfg = readBlock(files, CMelkoProtocol::fpmKey(number, "CFG"), withBytes);
        module.crc = readBlock(files, CMelkoProtocol::fpmKey(number, "CRC"), withBytes);
        m_modules.push_back(module);
    }
}

// The value is the tool's reading; text such as "12abc" or "-1", which the
// tool reads as some number all the same, is marked invalid.
CBackupContent::Number CBackupContent::readNumber(CFileManager* files, const std::string& key) {
    Number number;
    number.present = files->getText(key, &number.text);
    if (!number.present) {
        return number;
    }
    number.value = files->getDataDWord(key);
    number.valid =
        isDecimal(number.text) && withoutLeadingZeros(number.text) == std::to_string(number.value);
    return number;
}

CBackupContent::Block CBackupContent::readBlock(CFileManager* files, const std::string& key,
                                                bool withBytes) {
    Block block;
    block.present = files->getDataSize(key, &block.size);
    if (!block.present) {
        return block;
    }
    block.valid = files->hasValidData(key);
    if (block.size > static_cast<unsigned long>(INT_MAX)) {
        block.valid = false; // more than the tool's decoder takes at once
        return block;
    }
    if (withBytes) {
        block.bytes.resize(block.size);
        files->getData(key, block.bytes.data(), static_cast<int>(block.size));
    }
    return block;
}

int CBackupContent::masterModule() const {
    const long first = CMelkoAction::ADDRESS_FIRST_FPM;
    if (!m_master.valid || m_master.value < first ||
        m_master.value > first + CMelkoProtocol::FPM_COUNT) {
        return -1;
    }
    return static_cast<int>(m_master.value - first);
}
