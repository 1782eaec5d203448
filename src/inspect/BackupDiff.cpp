#include "inspect/BackupDiff.h"

#include "bus/MelkoProtocol.h"
#include "controller/DataProtocol.h"

#include <algorithm>
#include <cstdio>

namespace {

// Blocks up to this size (configuration, CRC) are shown in full.
const size_t SHOWN_BLOCK_SIZE = 16;

std::string hexOf(const std::string& bytes) {
    std::string text;
    char digits[3];
    for (char byte : bytes) {
        snprintf(digits, sizeof(digits), "%02x", static_cast<unsigned char>(byte));
        text += digits;
    }
    return text.empty() ? "empty" : text;
}

} // namespace

CBackupDiff::CBackupDiff(const CBackupContent& a, const CBackupContent& b) {
    compareNumber(CDataProtocol::VERSION_KEY, a.version(), b.version());
    for (size_t i = 0; i < a.dataSets().size(); ++i) {
        compareDataSet(a.dataSets()[i], b.dataSets()[i]);
    }
    compareNumber(CMelkoProtocol::MASTER_KEY, a.master(), b.master());
    for (size_t i = 0; i < a.modules().size(); ++i) {
        compareModule(a.modules()[i], b.modules()[i]);
    }
}

void CBackupDiff::compareDataSet(const CBackupContent::DataSet& a,
                                 const CBackupContent::DataSet& b) {
    const bool inA = a.length.present || a.data.present;
    const bool inB = b.length.present || b.data.present;
    if (comparePresence(a.name, inA, inB)) {
        compareLengthAndData(a.name + ".DataLength", a.length, b.length, a.name + ".Data", a.data,
                             b.data);
    }
}

void CBackupDiff::compareModule(const CBackupContent::Module& a, const CBackupContent::Module& b) {
    const int number = a.number;
    if (!comparePresence("FPM" + std::to_string(number), a.hasAnyKey(), b.hasAnyKey())) {
        return;
    }
    compareLengthAndData(CMelkoProtocol::fpmKey(number, "DataLength"), a.length, b.length,
                         CMelkoProtocol::fpmKey(number, "Data"), a.data, b.data);
    compareBlock(CMelkoProtocol::fpmKey(number, "CFG"), a.cfg, b.cfg);
    compareBlock(CMelkoProtocol::fpmKey(number, "CRC"), a.crc, b.crc);
}

// In an undamaged file the length is the size of the data; it differs on
// its own only where no data is stored.
void CBackupDiff::compareLengthAndData(const std::string& lengthKey, const Number& lengthA,
                                       const Number& lengthB, const std::string& dataKey,
                                       const Block& dataA, const Block& dataB) {
    const size_t before = m_differences.size();
    compareBlock(dataKey, dataA, dataB);
    if (m_differences.size() == before) {
        compareNumber(lengthKey, lengthA, lengthB);
    }
}

void CBackupDiff::compareNumber(const std::string& item, const Number& a, const Number& b) {
    if (comparePresence(item, a.present, b.present) && a.value != b.value) {
        m_differences.push_back(
            {item, std::to_string(a.value) + " in A, " + std::to_string(b.value) + " in B", -1,
             -1});
    }
}

// Counts the bytes at the offsets where the blocks differ, those beyond the
// shorter block included.
void CBackupDiff::compareBlock(const std::string& item, const Block& a, const Block& b) {
    if (!comparePresence(item, a.present, b.present) || a.bytes == b.bytes) {
        return;
    }
    const size_t shorter = std::min(a.bytes.size(), b.bytes.size());
    const size_t longer = std::max(a.bytes.size(), b.bytes.size());
    long differing = static_cast<long>(longer - shorter);
    long first = -1;
    for (size_t i = 0; i < shorter; ++i) {
        if (a.bytes[i] != b.bytes[i]) {
            ++differing;
            first = first < 0 ? static_cast<long>(i) : first;
        }
    }
    first = first < 0 ? static_cast<long>(shorter) : first;
    std::string detail;
    if (longer <= SHOWN_BLOCK_SIZE) {
        detail = hexOf(a.bytes) + " in A, " + hexOf(b.bytes) + " in B";
    } else {
        detail =
            std::to_string(differing) + " bytes differ, first at offset " + std::to_string(first);
        if (a.bytes.size() != b.bytes.size()) {
            detail += "; " + std::to_string(a.bytes.size()) + " bytes in A, " +
                      std::to_string(b.bytes.size()) + " in B";
        }
    }
    m_differences.push_back({item, detail, differing, first});
}

bool CBackupDiff::comparePresence(const std::string& item, bool inA, bool inB) {
    if (inA != inB) {
        m_differences.push_back({item, inA ? "only in A" : "only in B", -1, -1});
    }
    return inA && inB;
}
