#include "fleet/BackupJudge.h"

#include "backup/BackupContent.h"
#include "backup/Inspector.h"

#include <algorithm>

namespace {

// 1024 as "1,024".
std::string grouped(long number) {
    std::string digits = std::to_string(number);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) {
        digits.insert(static_cast<size_t>(at), ",");
    }
    return digits;
}

// "FPM3.Data" gives 3 and "Data"; other items 0.
int moduleOf(const std::string& item, std::string* part) {
    if (item.size() < 4 || item.compare(0, 3, "FPM") != 0 || item[3] < '1' || item[3] > '8') {
        return 0;
    }
    *part = item.size() > 5 ? item.substr(5) : "";
    return item[3] - '0';
}

std::string partOf(const CBackupDiff::Difference& difference) {
    const std::string& item = difference.item;
    std::string part;
    const int module = moduleOf(item, &part);
    const std::string fpm = "FPM " + std::to_string(module);
    if (module == 0) {
        return item == "Global.Version" ? "interface version"
               : item == "FPM0.MASTER"  ? "master mode"
                                        : item.substr(0, item.find('.'));
    }
    if (part.empty()) {
        return fpm + (difference.detail == "only in B" ? " added" : " removed");
    }
    if (part == "Data" || part == "DataLength") {
        return fpm + " templates" +
               (difference.differingBytes >= 0 ? " (" + grouped(difference.differingBytes) + " bytes)" : "");
    }
    return fpm + (part == "CFG" ? " configuration" : " CRC");
}

// "FPM 3 CRC" when "FPM 3 templates ..." is among the parts already.
bool isCrcOfChangedTemplates(const std::string& part, const std::vector<std::string>& parts) {
    const std::string crc = " CRC";
    if (part.size() <= crc.size() || part.compare(part.size() - crc.size(), crc.size(), crc) != 0) {
        return false;
    }
    const std::string templates = part.substr(0, part.size() - crc.size()) + " templates";
    return std::any_of(parts.begin(), parts.end(), [&](const std::string& other) {
        return other.compare(0, templates.size(), templates) == 0;
    });
}

} // namespace

CBackupJudge::Verdict CBackupJudge::judge(const std::string& path, const std::string& earlier) {
    Verdict verdict;
    CBackupContent content;
    if (!content.load(path)) {
        verdict.problem = "the backup file cannot be read";
        return verdict;
    }
    CInspector inspector(content);
    verdict.good = inspector.isCompleteAndConsistent();
    if (!verdict.good) {
        verdict.problem = inspector.problems().front().text;
        return verdict;
    }
    if (earlier.empty()) {
        return verdict;
    }
    CBackupContent before;
    if (!before.load(earlier) || CInspector(before).isDamaged()) {
        verdict.changes = "the earlier backup is damaged";
        return verdict;
    }
    const CBackupDiff diff(before, content);
    verdict.same = diff.same();
    verdict.changes = phrase(diff.differences());
    return verdict;
}

std::string CBackupJudge::problemOf(const std::string& path) {
    CBackupContent content;
    if (!content.load(path)) {
        return "cannot be read";
    }
    CInspector inspector(content);
    return inspector.isCompleteAndConsistent() ? "" : inspector.problems().front().text;
}

// A module's CRC follows its templates: named on its own only when they
// are the same.
std::string CBackupJudge::phrase(const std::vector<CBackupDiff::Difference>& differences) {
    std::vector<std::string> parts;
    for (const CBackupDiff::Difference& difference : differences) {
        const std::string part = partOf(difference);
        if (!isCrcOfChangedTemplates(part, parts) && std::find(parts.begin(), parts.end(), part) == parts.end()) {
            parts.push_back(part);
        }
    }
    std::string text;
    for (const std::string& part : parts) {
        text += (text.empty() ? "" : "; ") + part;
    }
    return text;
}
