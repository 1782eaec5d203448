#include "inspect/InspectionReport.h"

#include "base/ExitCode.h"
#include "bus/MelkoProtocol.h"
#include "inspect/JsonWriter.h"

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

void numberOrNull(CJsonWriter& json, const CBackupContent::Number& number) {
    if (number.valid) {
        json.number(number.value);
    } else {
        json.null();
    }
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
    CJsonWriter json;
    json.beginObject();
    json.key("file");
    json.string(m_content.path());
    json.key("readable");
    json.boolean(true);
    json.key("version");
    numberOrNull(json, m_content.version());
    json.key("dataSets");
    writeJsonDataSets(json);
    json.key("master");
    writeJsonMaster(json);
    json.key("modules");
    writeJsonModules(json);
    json.key("problems");
    writeJsonProblems(json);
    json.key("complete");
    json.boolean(m_inspector.isCompleteAndConsistent());
    json.key("verdict");
    json.string(verdict());
    json.key("exitStatus");
    json.number(exitStatus());
    json.endObject();
    out << json.text() << "\n";
}

void CInspectionReport::writeJsonDataSets(CJsonWriter& json) const {
    json.beginArray();
    for (const CBackupContent::DataSet& set : m_content.dataSets()) {
        json.beginObject();
        json.key("name");
        json.string(set.name);
        json.key("length");
        numberOrNull(json, set.length);
        json.endObject();
    }
    json.endArray();
}

void CInspectionReport::writeJsonMaster(CJsonWriter& json) const {
    const int module = m_content.masterModule();
    json.beginObject();
    json.key("value");
    numberOrNull(json, m_content.master());
    json.key("masterMode");
    if (module < 0) {
        json.null();
    } else {
        json.boolean(module > 0);
    }
    json.key("module");
    if (module > 0) {
        json.number(module);
    } else {
        json.null();
    }
    json.endObject();
}

void CInspectionReport::writeJsonModules(CJsonWriter& json) const {
    json.beginArray();
    for (const CBackupContent::Module& module : m_content.modules()) {
        if (!module.inFile()) {
            continue;
        }
        json.beginObject();
        json.key("number");
        json.number(module.number);
        json.key("templateBytes");
        numberOrNull(json, module.length);
        json.key("configuration");
        json.boolean(module.cfg.present);
        json.key("crc");
        json.boolean(module.crc.present);
        json.endObject();
    }
    json.endArray();
}

void CInspectionReport::writeJsonProblems(CJsonWriter& json) const {
    json.beginArray();
    for (const CInspector::Problem& problem : m_inspector.problems()) {
        json.beginObject();
        json.key("text");
        json.string(problem.text);
        json.key("damage");
        json.boolean(problem.damage);
        json.endObject();
    }
    json.endArray();
}

void CInspectionReport::writeUnreadableJson(std::ostream& out, const std::string& path) {
    CJsonWriter json;
    json.beginObject();
    json.key("file");
    json.string(path);
    json.key("readable");
    json.boolean(false);
    json.key("error");
    json.string("cannot read the file");
    json.key("exitStatus");
    json.number(EXIT_BACKUP_FILE_UNUSABLE);
    json.endObject();
    out << json.text() << "\n";
}
