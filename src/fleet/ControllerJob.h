#pragma once

#include "fleet/ControllerFolder.h"
#include "fleet/FleetReport.h"
#include "fleet/Inventory.h"

#include <memory>
#include <string>
#include <sys/types.h>

class CFleetStore;

// One controller's backup in a run: its attempts (each one TursaBackupCmd
// into a pending file), the verdict on what the tool wrote, the store and
// state.json updated when an attempt ends, and its row of the report.
class CControllerJob {
public:
    struct Settings {
        std::string tool;
        std::string stamp; // the run's start, YYYYMMDDTHHMMSSZ
        int retries = 2;
        double retryPause = 300;
        double timeout = 900;
        size_t keep = 30;
    };
    static constexpr double KILL_AFTER = 60; // seconds from SIGTERM to SIGKILL

    CControllerJob(const CInventory::Controller& controller, const CFleetStore& store,
                   const Settings& settings);

    // Starts an attempt; false when the controller failed without one (its
    // folder cannot be used, the tool cannot be started).
    bool start(double now);
    // The running attempt ended; true when another attempt is due at retryAt().
    bool finish(int waitStatus, double now);
    // SIGTERM now, SIGKILL KILL_AFTER later unless it ends; an abandoned
    // attempt (the fleet was interrupted) leaves the store and state alone.
    void terminate(double now, bool abandon);
    void kill();
    // Sends what is due at now; the next time something will be.
    void enforceTimeout(double now);
    double deadline() const;

    pid_t pid() const { return m_pid; }
    double retryAt() const { return m_retryAt; }
    bool abandoned() const { return m_abandoned; }
    const CFleetReport::Row& row() const { return m_row; }
    std::string logPath() const;

private:
    bool failAttempt(int status, const std::string& message, bool retriable, double now);
    // The tool ended well: judge, store and prune what it wrote.
    bool takeBackup(double now);
    void succeed(const std::string& result, const std::string& backup, const std::string& changes);
    // Writes state.json, and ends the attempt's hold on the folder.
    void endAttempt(double now);

    const CInventory::Controller& m_controller;
    const CFleetStore& m_store;
    const Settings& m_settings;
    std::unique_ptr<CControllerFolder> m_folder; // open during an attempt
    CControllerState m_state;
    bool m_stateRead = false;
    CFleetReport::Row m_row;
    pid_t m_pid = -1;
    time_t m_attemptWall = 0;
    double m_firstStart = -1;
    double m_attemptStart = 0;
    double m_retryAt = 0;
    double m_killAt = 0;
    bool m_terminating = false;
    bool m_killed = false;
    bool m_timedOut = false;
    bool m_abandoned = false;
};
