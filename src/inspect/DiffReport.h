#pragma once

#include "backup/BackupContent.h"
#include "backup/Inspector.h"
#include "inspect/BackupDiff.h"
#include "inspect/JsonText.h"

#include <ostream>
#include <string>

// The comparison of two backup files A and B, as lines of text or as one
// JSON object, the verdict last. Files with damaged values are not
// compared: the report then lists the damage.
class CDiffReport {
public:
    static constexpr int EXIT_DIFFERENT = 1;

    CDiffReport(const CBackupContent& a, const CBackupContent& b);

    // 0 for the same data, 1 when the files differ, 7 when one is damaged.
    int exitStatus() const;
    std::string verdict() const;

    void writeText(std::ostream& out) const;
    void writeJson(std::ostream& out) const;

    // The JSON object when a file could not be read (status 19).
    static void writeUnreadableJson(std::ostream& out, const std::string& a, const std::string& b,
                                    const std::string& unreadable);

private:
    bool comparable() const { return !m_inspectorA.isDamaged() && !m_inspectorB.isDamaged(); }
    Json jsonDamage() const;
    Json jsonDifferences() const;

    const CBackupContent& m_a;
    const CBackupContent& m_b;
    CInspector m_inspectorA;
    CInspector m_inspectorB;
    CBackupDiff m_diff;
};
