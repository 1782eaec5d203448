#pragma once

#include "backup/BackupContent.h"
#include "backup/Inspector.h"
#include "inspect/JsonText.h"

#include <ostream>
#include <string>

// The report on one backup file, as lines of text or as one JSON object:
// interface version, data sets, master mode, modules, problems, and the
// verdict last.
class CInspectionReport {
public:
    CInspectionReport(const CBackupContent& content, const CInspector& inspector);

    // 0 for a complete and consistent file, 7 otherwise.
    int exitStatus() const;
    std::string verdict() const;

    void writeText(std::ostream& out) const;
    void writeJson(std::ostream& out) const;

    // The JSON object for a file that could not be read (status 19).
    static void writeUnreadableJson(std::ostream& out, const std::string& path);

private:
    std::string masterText() const;
    std::string moduleText(const CBackupContent::Module& module) const;
    Json jsonDataSets() const;
    Json jsonMaster() const;
    Json jsonModules() const;
    Json jsonProblems() const;

    const CBackupContent& m_content;
    const CInspector& m_inspector;
};
