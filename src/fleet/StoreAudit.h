#pragma once

#include <string>

class CControllerFolder;
class CFleetStore;

// What the store holds, read without changing it: each controller's last
// result (status) and whether every kept backup is still intact (verify).
class CStoreAudit {
public:
    explicit CStoreAudit(const CFleetStore& store) : m_store(store) {}

    // One line per controller, or a JSON array with --json. With a limit
    // (seconds, >= 0): 1 when any controller's last success is older or
    // missing, 0 otherwise; without: 0.
    int status(bool json, long olderThan) const;
    // One line per damaged backup and a count; 1 when any is damaged.
    int verify() const;

    // Why the backup no longer matches its .sha256 file; "" when it does.
    static std::string checksumProblem(const CControllerFolder& folder, const std::string& backup);

private:
    const CFleetStore& m_store;
};
