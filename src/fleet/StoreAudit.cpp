#include "fleet/StoreAudit.h"

#include "fleet/AtomicFile.h"
#include "fleet/BackupJudge.h"
#include "fleet/ControllerFolder.h"
#include "fleet/FleetStore.h"
#include "fleet/Sha256.h"
#include "fleet/UtcTime.h"

#include <iostream>

int CStoreAudit::status(bool json, long olderThan) const {
    const time_t now = time(nullptr);
    bool anyOld = false;
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const std::string& name : m_store.controllerNames()) {
        CControllerFolder folder(m_store, name);
        folder.open();
        const CControllerState state = folder.readState();
        time_t success = 0;
        const bool succeeded = CUtcTime::parseIso(state.lastSuccess, &success);
        const bool old = olderThan >= 0 && (!succeeded || now - success > olderThan);
        anyOld = anyOld || old;
        if (json) {
            nlohmann::ordered_json entry = {{"name", name}};
            entry.update(state.toJson());
            if (olderThan >= 0) {
                entry["too_old"] = old;
            }
            list.push_back(entry);
            continue;
        }
        std::cout << name << "  last success: " << (succeeded ? state.lastSuccess : "never")
                  << "  last result: " << (state.lastResult.empty() ? "none" : state.lastResult);
        if (state.lastResult == "failed") {
            std::cout << " (status " << state.lastStatus << ": " << state.lastMessage << ")";
        }
        std::cout << "  consecutive failures: " << state.consecutiveFailures << (old ? "  TOO OLD" : "")
                  << "\n";
    }
    if (json) {
        std::cout << list.dump(2) << "\n";
    }
    return anyOld ? 1 : 0;
}

int CStoreAudit::verify() const {
    int checked = 0;
    int damaged = 0;
    for (const std::string& name : m_store.controllerNames()) {
        CControllerFolder folder(m_store, name);
        folder.open();
        for (const std::string& backup : folder.backups()) {
            ++checked;
            std::string problem = checksumProblem(folder, backup);
            if (problem.empty()) {
                problem = CBackupJudge::problemOf(folder.file(backup));
            }
            if (!problem.empty()) {
                ++damaged;
                std::cout << folder.file(backup) << ": " << problem << "\n";
            }
        }
    }
    std::cout << checked << " backups checked, " << damaged << " damaged\n";
    return damaged > 0 ? 1 : 0;
}

std::string CStoreAudit::checksumProblem(const CControllerFolder& folder, const std::string& backup) {
    const std::string recorded = folder.read(backup + ".sha256");
    std::string digest;
    if (recorded.empty()) {
        return "no checksum file " + backup + ".sha256";
    }
    if (!CSha256::ofFile(folder.fd(), backup, &digest)) {
        return "cannot be read";
    }
    return recorded == CSha256::line(digest, backup) ? "" : "does not match its checksum";
}
