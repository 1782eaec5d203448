#include "inspect/DiffReport.h"

#include "base/ExitCode.h"
#include "inspect/JsonText.h"

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

Json numberOrNull(long value) {
    return value >= 0 ? Json(value) : Json(nullptr);
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
    Json json;
    json["a"] = CJsonText::string(m_a.path());
    json["b"] = CJsonText::string(m_b.path());
    json["readable"] = true;
    json["comparable"] = comparable();
    json["damage"] = jsonDamage();
    json["same"] = comparable() ? Json(m_diff.same()) : Json(nullptr);
    json["differences"] = jsonDifferences();
    json["verdict"] = verdict();
    json["exitStatus"] = exitStatus();
    out << CJsonText::line(json);
}

Json CDiffReport::jsonDamage() const {
    Json damage = Json::array();
    forEachDamage(m_inspectorA, m_inspectorB, [&](const char* file, const std::string& text) {
        damage.push_back({{"file", file}, {"text", CJsonText::string(text)}});
    });
    return damage;
}

// Differences of damaged files mean nothing and are left out.
Json CDiffReport::jsonDifferences() const {
    Json differences = Json::array();
    for (const CBackupDiff::Difference& difference : m_diff.differences()) {
        if (!comparable()) {
            break;
        }
        differences.push_back({{"item", CJsonText::string(difference.item)},
                               {"detail", CJsonText::string(difference.detail)},
                               {"differingBytes", numberOrNull(difference.differingBytes)},
                               {"firstOffset", numberOrNull(difference.firstOffset)}});
    }
    return differences;
}

void CDiffReport::writeUnreadableJson(std::ostream& out, const std::string& a, const std::string& b,
                                      const std::string& unreadable) {
    Json json;
    json["a"] = CJsonText::string(a);
    json["b"] = CJsonText::string(b);
    json["readable"] = false;
    json["error"] = CJsonText::string("cannot read " + unreadable);
    json["exitStatus"] = EXIT_BACKUP_FILE_UNUSABLE;
    out << CJsonText::line(json);
}
