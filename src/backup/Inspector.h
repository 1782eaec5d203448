#pragma once

#include "backup/BackupContent.h"

#include <string>
#include <vector>

// The rules of a restorable backup file, for tursa-inspect and for a
// restore's check before it sends anything: every key present, every
// number and block readable, every length matching its block, no data set
// above 256 MiB, templates of a whole template area, a configuration and a
// CRC for each module, and a master entry that fits the modules held.
class CInspector {
public:
    struct Problem {
        // A damaged value cannot be read, or contradicts its length, so what
        // the file holds there is not known; other problems are gaps.
        bool damage;
        std::string text;
    };

    // Site: what a full restore needs and a complete backup holds. Restore:
    // as a restore checks the file before it sends anything: the same, but
    // Global.Version only present (the restore compares it with the
    // controller's after the login, 12), and a file without FPM0.MASTER, or
    // with 0, saved each module on its own. Modules: the module keys alone,
    // as Restore checks them (--fpm-only).
    enum class Scope { Site, Restore, Modules };

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

    void checkVersion(Scope scope);
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
