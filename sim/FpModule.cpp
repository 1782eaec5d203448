#include "FpModule.h"

#include "Crc32.h"

namespace sim {

FpModule::FpModule(int number, std::string templates, std::string config)
    : m_number(number), m_templates(std::move(templates)), m_config(std::move(config)) {
    m_templates.resize(kAreaSize, '\xFF');
    m_config.resize(kConfigSize, '\0');
}

bool FpModule::inArea(uint32_t address, size_t count) {
    return address >= kAreaStart && address - kAreaStart <= kAreaSize &&
           count <= kAreaSize - (address - kAreaStart);
}

bool FpModule::read(uint32_t address, size_t count, std::string* bytes) const {
    if (!inArea(address, count)) {
        return false;
    }
    bytes->assign(m_templates, address - kAreaStart, count);
    return true;
}

bool FpModule::write(uint32_t address, const std::string& bytes) {
    if (!m_progMode || !inArea(address, bytes.size())) {
        return false;
    }
    m_templates.replace(address - kAreaStart, bytes.size(), bytes);
    m_unsaved = true;
    return true;
}

void FpModule::clean() {
    m_templates.assign(kAreaSize, '\xFF');
    m_unsaved = true;
}

void FpModule::setConfig(const std::string& config) {
    m_config = config;
    m_config.resize(kConfigSize, '\0');
    m_unsaved = true;
}

bool FpModule::setProgMode(bool on) {
    bool changed = m_progMode != on;
    m_progMode = on;
    return changed;
}

std::string FpModule::crc() const {
    Crc32 crc32;
    crc32.update(m_templates);
    crc32.update(m_config);
    unsigned char sum = 0;
    for (const std::string* part : {&m_templates, &m_config}) {
        for (char c : *part) {
            sum = static_cast<unsigned char>(sum + static_cast<unsigned char>(c));
        }
    }
    uint32_t value = crc32.value();
    std::string bytes;
    for (int i = 0; i < 4; ++i) {
        bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
    }
    bytes.push_back(static_cast<char>(sum));
    return bytes;
}

} // namespace sim
