#pragma once

#include "backup/BackupContent.h"

#include <string>
#include <vector>

// What differs between two backup files (A and B): interface version, data
// sets, master entry, and per module whether it is held, its templates,
// configuration and CRC. Meant for files without damaged values.
class CBackupDiff {
public:
    struct Difference {
        // The key that differs, or the data set or module name when one file
        // lacks it as a whole.
        std::string item;
        std::string detail;
        // For byte blocks in both files; -1 otherwise.
        long differingBytes = -1;
        long firstOffset = -1;
    };

    CBackupDiff(const CBackupContent& a, const CBackupContent& b);

    const std::vector<Difference>& differences() const { return m_differences; }
    bool same() const { return m_differences.empty(); }

private:
    using Number = CBackupContent::Number;
    using Block = CBackupContent::Block;

    void compareDataSet(const CBackupContent::DataSet& a, const CBackupContent::DataSet& b);
    void compareModule(const CBackupContent::Module& a, const CBackupContent::Module& b);
    void compareLengthAndData(const std::string& lengthKey, const Number& lengthA,
                              const Number& lengthB, const std::string& dataKey, const Block& dataA,
                              const Block& dataB);
    void compareNumber(const std::string& item, const Number& a, const Number& b);
    void compareBlock(const std::string& item, const Block& a, const Block& b);
    // Both held: true when the presence matches and there is more to compare.
    bool comparePresence(const std::string& item, bool inA, bool inB);

    std::vector<Difference> m_differences;
};
