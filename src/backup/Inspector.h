#pragma once

#include "backup/BackupContent.h"

#include <string>
#include <vector>

// Checks a backup file's content against what a full restore needs: every
// key present, every number and block readable, every length matching its
// block, templates of a whole template area, a configuration and a CRC for
// each module, and a master entry that fits the modules held.
class CInspector {
public:
    struct Problem {
        // A damaged value cannot be read, or contradicts its length, so what
        // the file holds there is not known; other problems are gaps.
        bool damage;
        std::string text;
    };

    // Site: what a full restore needs and a complete backup holds. Modules:
    // the module keys alone, as a restore checks them before it sends
    // anything (a file without FPM0.MASTER, or with 0, saved each module on
    // its own).
    enum class Scope { Site, Modules };

    explicit CInspector(const CBackupContent& content, Scope scope = Scope::Site);

    const std::vector<Problem>& problems() const { return m_problems; }
    bool isCompleteAndConsistent() const { return m_problems.empty(); }
    bool isDamaged() const;

    // The text of a value fit for one report line: bytes outside printable
    // ASCII as '?', cut after 40 characters.
    static std::string shortText(const std::string& text);

private:
    using Number = CBackupContent::Number;
    using Block = CBackupContent::Block;
    using Module = CBackupContent::Module;

    void checkVersion();
    void checkDataSets();
    void checkMaster(Scope scope);
    void checkModules();
    void checkModule(const Module& module);
    void checkLengthAndData(const Number& length, const Block& data, const std::string& lengthKey,
                            const std::string& dataKey);
    void checkSizedBlock(const Block& block, const std::string& key, unsigned long size);
    // Report a missing or unreadable value; true when it can be used.
    bool checkNumber(const Number& number, const std::string& key);
    bool checkBlock(const Block& block, const std::string& key);

    void addDamage(const std::string& text) { m_problems.push_back({true, text}); }
    void addGap(const std::string& text) { m_problems.push_back({false, text}); }

    const CBackupContent& m_content;
    std::vector<Problem> m_problems;
};
