#include "bus/ModuleKeys.h"

#include "bus/MelkoTele.h"
#include "bus/ModuleCommands.h"
#include "bus/TemplateTransfer.h"
#include "store/FileManager.h"

#include <algorithm>

namespace {

const int CFG_SIZE = CModuleCommands::CFG_SIZE;
const int CRC_SIZE = CModuleCommands::CRC_SIZE;

} // namespace

std::string CModuleKeys::fpmKey(int number, const char* suffix) {
    return "FPM" + std::to_string(number) + "." + suffix;
}

CModuleKeys::CModuleKeys() : m_files(nullptr) {}

void CModuleKeys::bind(CFileManager* files) {
    m_files = files;
}

bool CModuleKeys::holdsModule(int number) {
    return m_files->hasKey(fpmKey(number, "DataLength"));
}

void CModuleKeys::saveTemplates(int number, CMelkoTele* templates) {
    const unsigned long count = static_cast<unsigned long>(templates->getInfoSize());
    m_files->writeData(fpmKey(number, "DataLength"), static_cast<long>(count));
    if (count > 0) {
        m_files->writeData(fpmKey(number, "Data"), templates->getInfoBytes(), count);
    }
}

void CModuleKeys::saveCfg(int number, CMelkoTele* reply) {
    if (reply->getInfoSize() > CFG_SIZE - 1) {
        m_files->writeData(fpmKey(number, "CFG"), reply->getInfoBytes(), CFG_SIZE);
    }
}

void CModuleKeys::saveCrc(int number, CMelkoTele* reply) {
    if (reply->getInfoSize() > 0) {
        m_files->writeData(fpmKey(number, "CRC"), reply->getInfoBytes(),
                           static_cast<unsigned long>(reply->getInfoSize()));
    }
}

void CModuleKeys::saveMaster(unsigned char address) {
    m_files->writeData(MASTER_KEY, static_cast<long>(address));
}

// The bound is the buffer's, not a rule of the file: a restore's check has
// refused every length but a whole template area (7) before this is read.
unsigned long CModuleKeys::readTemplates(char number, char* buffer) {
    const int count = m_files->getDataDWord(fpmKey(number, "DataLength"));
    if (count <= 0) {
        return 0;
    }
    const int kept = std::min(count, static_cast<int>(CTemplateTransfer::TEMPLATE_SIZE));
    m_files->getData(fpmKey(number, "Data"), buffer, kept);
    return static_cast<unsigned long>(kept);
}

int CModuleKeys::readCfg(char number, char* buffer) {
    if (!m_files->getData(fpmKey(number, "CFG"), buffer, CFG_SIZE)) {
        return 0;
    }
    return CFG_SIZE;
}

int CModuleKeys::readCrc(char number, char* buffer) {
    m_files->getData(fpmKey(number, "CRC"), buffer, CRC_SIZE);
    return CRC_SIZE;
}

void CModuleKeys::readMaster(unsigned char* address) {
    *address = static_cast<unsigned char>(m_files->getDataDWord(MASTER_KEY));
}
