#include "inspect/InspectionReport.h"

#include "base/ExitCode.h"
#include "bus/MelkoProtocol.h"
#include "inspect/JsonText.h"

namespace {

std::string numberText(const CBackupContent::Number& number) {
    if (!number.present) {
        return "missing";
    }
    if (!number.valid) {
        return "invalid (" + CInspector::shortText(number.text) + ")";
    }
    return std::to_string(number.value);
}

std::string sizeText(const CBackupContent::Number& length) {
    return length.valid ? std::to_string(length.value) + " bytes" : numberText(length);
}

std::string presenceText(const CBackupContent::Block& block) {
    return block.present ? "present" : "missing";
}

Json numberOrNull(const CBackupContent::Number& number) {
    return number.valid ? Json(number.value) : Json(nullptr);
}

} // namespace

CInspectionReport::CInspectionReport(const CBackupContent& content, const CInspector& inspector)
    : m_content(content), m_inspector(inspector) {}

int CInspectionReport::exitStatus() const {
    return m_inspector.isCompleteAndConsistent() ? EXIT_OK : EXIT_CORRUPT_FILE;
}

std::string CInspectionReport::verdict() const {
    const size_t count = m_inspector.problems().size();
    if (count == 0) {
        return "complete and consistent";
    }
    return "incomplete or inconsistent, " + std::to_string(count) +
           (count == 1 ? " problem" : " problems");
}

void CInspectionReport::writeText(std::ostream& out) const {
    out << "Backup file: " << m_content.path() << "\n";
    out << "Interface version: " << numberText(m_content.version()) << "\n";
    for (const CBackupContent::DataSet& set : m_content.dataSets()) {
        out << "Data set " << set.name << ": " << sizeText(set.length) << "\n";
    }
    out << "Master mode: " << masterText() << "\n";
    bool anyModule = false;
    for (const CBackupContent::Module& module : m_content.modules()) {
        if (module.inFile()) {
            anyModule = true;
            out << moduleText(module) << "\n";
        }
    }
    if (!anyModule) {
        out << "Modules: none\n";
    }
    for (const CInspector::Problem& problem : m_inspector.problems()) {
        out << "Problem: " << problem.text << "\n";
    }
    out << "Verdict: " << verdict() << "\n";
}

std::string CInspectionReport::masterText() const {
    const CBackupContent::Number& master = m_content.master();
    const std::string key = CMelkoProtocol::MASTER_KEY;
    const int module = m_content.masterModule();
    if (!master.present) {
        return "unknown (" + key + " missing)";
    }
    const std::string entry = " (" + key + "=" + CInspector::shortText(master.text) + ")";
    if (module < 0) {
        return "unknown" + entry;
    }
    if (module == 0) {
        return "no, every module saved on its own" + entry;
    }
    return "yes, made from FPM" + std::to_string(module) + entry;
}

std::string CInspectionReport::moduleText(const CBackupContent::Module& module) const {
    return "Module FPM" + std::to_string(module.number) + ": templates " + sizeText(module.length) +
           ", configuration " + presenceText(module.cfg) + ", CRC " + presenceText(module.crc);
}

void CInspectionReport::writeJson(std::ostream& out) const {
    Json json;
    json["file"] = CJsonText::string(m_content.path());
    json["readable"] = true;
    json["version"] = numberOrNull(m_content.version());
    json["dataSets"] = jsonDataSets();
    json["master"] = jsonMaster();
    json["modules"] = jsonModules();
    json["problems"] = jsonProblems();
    json["complete"] = m_inspector.isCompleteAndConsistent();
    json["verdict"] = verdict();
    json["exitStatus"] = exitStatus();
    out << CJsonText::line(json);
}

Json CInspectionReport::jsonDataSets() const {
    Json sets = Json::array();
    for (const CBackupContent::DataSet& set : m_content.dataSets()) {
        sets.push_back({{"name", set.name}, {"length", numberOrNull(set.length)}});
    }
    return sets;
}

Json CInspectionReport::jsonMaster() const {
    const int module = m_content.masterModule();
    Json master;
    master["value"] = numberOrNull(m_content.master());
    master["masterMode"] = module < 0 ? Json(nullptr) : Json(module > 0);
    master["module"] = module > 0 ? Json(module) : Json(nullptr);
    return master;
}

Json CInspectionReport::jsonModules() const {
    Json modules = Json::array();
    for (const CBackupContent::Module& module : m_content.modules()) {
        if (module.inFile()) {
            modules.push_back({{"number", module.number},
                               {"templateBytes", numberOrNull(module.length)},
                               {"configuration", module.cfg.present},
                               {"crc", module.crc.present}});
        }
    }
    return modules;
}

Json CInspectionReport::jsonProblems() const {
    Json problems = Json::array();
    for (const CInspector::Problem& problem : m_inspector.problems()) {
        problems.push_back({{"text", CJsonText::string(problem.text)}, {"damage", problem.damage}});
    }
    return problems;
}

void CInspectionReport::writeUnreadableJson(std::ostream& out, const std::string& path) {
    Json json;
    json["file"] = CJsonText::string(path);
    json["readable"] = false;
    json["error"] = "cannot read the file";
    json["exitStatus"] = EXIT_BACKUP_FILE_UNUSABLE;
    out << CJsonText::line(json);
}
