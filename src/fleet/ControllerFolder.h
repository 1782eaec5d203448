#pragma once

#include "fleet/ControllerState.h"

#include <string>
#include <vector>

class CFleetStore;

// One controller's folder DIR/NAME: its backups TIMESTAMP.bak with their
// TIMESTAMP.bak.sha256, the link latest, logs/ and state.json. Everything
// is reached through descriptors of folders opened without following a
// link, so a folder or latest swapped for a link is refused, never written
// through. Hidden names (".pending-...", the tool's and our temporaries)
// are never backups; prepare() removes those an earlier run left. Failures
// throw CAtomicFile::StoreError.
class CControllerFolder {
public:
    CControllerFolder(const CFleetStore& store, const std::string& name);
    ~CControllerFolder();
    CControllerFolder(const CControllerFolder&) = delete;
    CControllerFolder& operator=(const CControllerFolder&) = delete;

    // For a run: creates what is missing (folders 0700) and removes stale
    // temporaries. open() only opens, for reading.
    void prepare();
    void open();

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }
    static std::string backupName(const std::string& stamp) { return stamp + ".bak"; }
    static std::string pendingName(const std::string& stamp) { return ".pending-" + stamp + ".bak"; }
    std::string logPath(const std::string& stamp) const { return m_path + "/logs/" + stamp + ".log"; }

    // The backup latest names; "" when there is none.
    std::string latest() const;
    // The backups, oldest first.
    std::vector<std::string> backups() const;
    long size(const std::string& name) const;

    // Makes the pending file of the run the backup STAMP.bak with its
    // checksum file, and points latest at it.
    void keep(const std::string& stamp);
    // Removes the pending file of the run and whatever else the tool left.
    void discard();
    // Keeps the newest backups, latest's always, and the logs of the runs
    // since the oldest kept backup.
    void prune(size_t keep);

    // A whole small file of the folder, never through a link; "" when missing.
    std::string read(const std::string& name) const;
    int fd() const { return m_fd; }

    CControllerState readState() const;
    // The names in a folder, "." and ".." too.
    static std::vector<std::string> namesIn(int folderFd);
    void writeState(const CControllerState& state);

private:
    static int openFolder(int parentFd, const std::string& name, const std::string& shown);
    void removeHidden();
    void remove(int folderFd, const std::string& name);
    void pruneLogs(const std::string& oldestKept, size_t keep);

    const CFleetStore& m_store;
    std::string m_name;
    std::string m_path;
    int m_fd = -1;
    int m_logsFd = -1;
};
