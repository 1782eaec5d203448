#pragma once

#include <cstdint>
#include <string>

namespace sim {

// One finger print module on the bus: its template area (data addresses
// 0x30000 up to 0x3F230), its five configuration bytes and whether it is in
// programming mode. Remembers whether it changed since its files were last
// written.
class FpModule {
public:
    static const uint32_t kAreaStart = 0x30000;
    static const size_t kAreaSize = 62000;
    static const size_t kConfigSize = 5;
    static const size_t kCrcSize = 5;

    FpModule(int number, std::string templates, std::string config);

    int number() const { return m_number; }
    unsigned char address() const { return static_cast<unsigned char>(0xC0 + m_number); }

    // Bytes of the template area at a data address; false when the range
    // does not lie wholly inside the area.
    bool read(uint32_t address, size_t count, std::string* bytes) const;
    // Stores bytes into the template area; false (nothing stored) outside
    // programming mode or outside the area.
    bool write(uint32_t address, const std::string& bytes);
    // Every byte of the template area becomes 0xFF.
    void clean();

    const std::string& templates() const { return m_templates; }
    const std::string& config() const { return m_config; }
    void setConfig(const std::string& config);

    bool progMode() const { return m_progMode; }
    // Returns true when the mode changed.
    bool setProgMode(bool on);

    // CRC-32 of the template area followed by the configuration, as four
    // bytes little-endian, then the 8-bit sum of the same bytes: a wrong
    // byte anywhere shows.
    std::string crc() const;

    bool unsaved() const { return m_unsaved; }
    void markSaved() { m_unsaved = false; }

private:
    static bool inArea(uint32_t address, size_t count);

    int m_number;
    std::string m_templates;
    std::string m_config;
    bool m_progMode = false;
    bool m_unsaved = true; // nothing written yet
};

} // namespace sim
