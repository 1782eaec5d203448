#include "inspect/DiffReport.h"

#include "base/ExitCode.h"
#include "inspect/JsonWriter.h"

#include <functional>

namespace {

// Calls back with the file's letter and each damage problem of A, then B.
void forEachDamage(const CInspector& a, const CInspector& b,
                   const std::function<void(const char*, const std::string&)>& use) {
    for (const auto& [letter, inspector] : {std::make_pair("A", &a), std::make_pair("B", &b)}) {
        for (const CInspector::Problem& problem : inspector->problems()) {
            if (problem.damage) {
                use(letter, problem.text);
            }
        }
    }
}

void numberOrNull(CJsonWriter& json, long value) {
    if (value >= 0) {
        json.number(value);
    } else {
        json.null();
    }
}

} // namespace

CDiffReport::CDiffReport(const CBackupContent& a, const CBackupContent& b)
    : m_a(a), m_b(b), m_inspectorA(a), m_inspectorB(b), m_diff(a, b) {}

int CDiffReport::exitStatus() const {
    if (!comparable()) {
        return EXIT_CORRUPT_FILE;
    }
    return m_diff.same() ? EXIT_OK : EXIT_DIFFERENT;
}

std::string CDiffReport::verdict() const {
    if (!comparable()) {
        return "cannot compare, damaged file";
    }
    const size_t count = m_diff.differences().size();
    if (count == 0) {
        return "the files hold the same data";
    }
    return "the files differ in " + std::to_string(count) + (count == 1 ? " item" : " items");
}

void CDiffReport::writeText(std::ostream& out) const {
    out << "A: " << m_a.path() << "\n";
    out << "B: " << m_b.path() << "\n";
    if (!comparable()) {
        forEachDamage(m_inspectorA, m_inspectorB, [&](const char* file, const std::string& text) {
            out << "Damaged: " << file << ": " << text << "\n";
        });
    } else {
        for (const CBackupDiff::Difference& difference : m_diff.differences()) {
            out << "Differs: " << difference.item << ": " << difference.detail << "\n";
        }
    }
    out << "Verdict: " << verdict() << "\n";
}

void CDiffReport::writeJson(std::ostream& out) const {
    CJsonWriter json;
    json.beginObject();
    json.key("a");
    json.string(m_a.path());
    json.key("b");
    json.string(m_b.path());
    json.key("readable");
    json.boolean(true);
    json.key("comparable");
    json.boolean(comparable());
    json.key("damage");
    writeJsonDamage(json);
    json.key("same");
    if (comparable()) {
        json.boolean(m_diff.same());
    } else {
        json.null();
    }
    json.key("differences");
    writeJsonDifferences(json);
    json.key("verdict");
    json.string(verdict());
    json.key("exitStatus");
    json.number(exitStatus());
    json.endObject();
    out << json.text() << "\n";
}

void CDiffReport::writeJsonDamage(CJsonWriter& json) const {
    json.beginArray();
    forEachDamage(m_inspectorA, m_inspectorB, [&](const char* file, const std::string& text) {
        json.beginObject();
        json.key("file");
        json.string(file);
        json.key("text");
        json.string(text);
        json.endObject();
    });
    json.endArray();
}

// Differences of damaged files mean nothing and are left out.
void CDiffReport::writeJsonDifferences(CJsonWriter& json) const {
    json.beginArray();
    for (const CBackupDiff::Difference& difference : m_diff.differences()) {
        if (!comparable()) {
            break;
        }
        json.beginObject();
        json.key("item");
        json.string(difference.item);
        json.key("detail");
        json.string(difference.detail);
        json.key("differingBytes");
        numberOrNull(json, difference.differingBytes);
        json.key("firstOffset");
        numberOrNull(json, difference.firstOffset);
        json.endObject();
    }
    json.endArray();
}

void CDiffReport::writeUnreadableJson(std::ostream& out, const std::string& a, const std::string& b,
                                      const std::string& unreadable) {
    CJsonWriter json;
    json.beginObject();
    json.key("a");
    json.string(a);
    json.key("b");
    json.string(b);
    json.key("readable");
    json.boolean(false);
    json.key("error");
    json.string("cannot read " + unreadable);
    json.key("exitStatus");
    json.number(EXIT_BACKUP_FILE_UNUSABLE);
    json.endObject();
    out << json.text() << "\n";
}
