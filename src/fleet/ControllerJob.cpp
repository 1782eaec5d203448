#include "fleet/ControllerJob.h"

#include "fleet/AtomicFile.h"
#include "fleet/BackupJudge.h"
#include "fleet/FleetStore.h"
#include "fleet/ToolCommand.h"
#include "fleet/UtcTime.h"

#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

CControllerJob::CControllerJob(const CInventory::Controller& controller, const CFleetStore& store,
                               const Settings& settings)
    : m_controller(controller), m_store(store), m_settings(settings) {
    m_row.name = controller.name;
    m_row.address = controller.address;
}

std::string CControllerJob::logPath() const {
    return m_store.path() + "/" + m_controller.name + "/logs/" + m_settings.stamp + ".log";
}

bool CControllerJob::start(double now) {
    m_firstStart = m_firstStart < 0 ? now : m_firstStart;
    m_attemptStart = now;
    m_attemptWall = time(nullptr);
    ++m_row.attempts;
    m_terminating = m_killed = m_timedOut = false;
    int logFd = -1;
    try {
        m_folder = std::make_unique<CControllerFolder>(m_store, m_controller.name);
        m_folder->prepare();
        if (!m_stateRead) {
            m_state = m_folder->readState();
            m_stateRead = true;
        }
        logFd = open(logPath().c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (logFd < 0) {
            CAtomicFile::fail("open the log", logPath());
        }
        const std::string pending = m_folder->file(CControllerFolder::pendingName(m_settings.stamp));
        m_pid = CChildProcess::spawn(CToolCommand::backup(m_settings.tool, m_controller, pending, logPath(), logFd));
    } catch (const std::runtime_error& error) {
        // The folder may be a link: nothing is written, state.json neither.
        m_row.result = "failed";
        m_row.exitStatus = dynamic_cast<const CAtomicFile::StoreError*>(&error) ? 19 : 127;
        m_row.message = error.what();
        m_row.state = m_state;
        m_row.durationS = now - m_firstStart;
        m_folder.reset();
    }
    if (logFd >= 0) {
        close(logFd);
    }
    return m_pid > 0;
}

bool CControllerJob::finish(int waitStatus, double now) {
    m_pid = -1;
    const int status = CChildProcess::exitStatusOf(waitStatus);
    if (m_abandoned) {
        m_folder->discard();
        m_folder.reset();
        return false;
    }
    if (m_timedOut) {
        const long seconds = std::lround(m_settings.timeout);
        return failAttempt(status, "timed out after " + std::to_string(seconds) + " s", true, now);
    }
    if (status != 0) {
        return failAttempt(status, CToolCommand::messageOf(status, logPath()),
                           CToolCommand::isRetriable(status), now);
    }
    return takeBackup(now);
}

bool CControllerJob::takeBackup(double now) {
    try {
        const std::string latest = m_folder->latest();
        const std::string pending = m_folder->file(CControllerFolder::pendingName(m_settings.stamp));
        const auto verdict = CBackupJudge::judge(pending, latest.empty() ? "" : m_folder->file(latest));
        if (!verdict.good) {
            return failAttempt(7, "the inspector refused the backup: " + verdict.problem, false, now);
        }
        if (verdict.same) {
            m_folder->discard();
            succeed("unchanged", m_folder->file(latest), "");
        } else {
            m_folder->keep(m_settings.stamp);
            succeed(latest.empty() ? "ok" : "changed",
                    m_folder->file(CControllerFolder::backupName(m_settings.stamp)), verdict.changes);
        }
    } catch (const CAtomicFile::StoreError& error) {
        return failAttempt(19, error.what(), false, now);
    }
    endAttempt(now);
    return false;
}

void CControllerJob::succeed(const std::string& result, const std::string& backup,
                             const std::string& changes) {
    m_row.result = result;
    m_row.exitStatus = 0;
    m_row.message.clear();
    m_row.backup = backup;
    m_row.changes = changes;
    m_state.lastAttempt = m_state.lastSuccess = CUtcTime::iso(m_attemptWall);
    m_state.lastResult = result == "unchanged" ? "unchanged" : "ok";
    m_state.lastStatus = 0;
    m_state.lastMessage = result == "changed" ? "changed: " + changes : "";
    m_state.consecutiveFailures = 0;
}

bool CControllerJob::failAttempt(int status, const std::string& message, bool retriable, double now) {
    m_folder->discard();
    const bool again = retriable && m_row.attempts <= m_settings.retries;
    m_row.result = "failed";
    m_row.exitStatus = status;
    m_row.message = message;
    m_row.backup.clear();
    m_row.changes.clear();
    m_state.lastAttempt = CUtcTime::iso(m_attemptWall);
    m_state.lastResult = "failed";
    m_state.lastStatus = status;
    m_state.lastMessage = message;
    m_state.consecutiveFailures += again ? 0 : 1;
    endAttempt(now);
    m_retryAt = now + m_settings.retryPause;
    return again;
}

void CControllerJob::endAttempt(double now) {
    try {
        m_folder->writeState(m_state);
        m_folder->prune(m_settings.keep);
        const std::string latest = m_folder->latest();
        m_row.latestSize = latest.empty() ? 0 : m_folder->size(latest);
    } catch (const CAtomicFile::StoreError& error) {
        m_row.message += (m_row.result == "failed" ? "; " : "") + std::string(error.what());
        m_row.exitStatus = m_row.result == "failed" ? m_row.exitStatus : 19;
        m_row.result = "failed";
    }
    m_row.state = m_state;
    m_row.durationS = now - m_firstStart;
    m_folder.reset();
}

void CControllerJob::terminate(double now, bool abandon) {
    m_abandoned = m_abandoned || abandon;
    if (m_pid > 0 && !m_terminating) {
        ::kill(-m_pid, SIGTERM);
        m_terminating = true;
        m_killAt = now + KILL_AFTER;
    }
}

void CControllerJob::kill() {
    if (m_pid > 0 && !m_killed) {
        ::kill(-m_pid, SIGKILL);
        m_killed = true;
    }
}

void CControllerJob::enforceTimeout(double now) {
    if (m_pid <= 0) {
        return;
    }
    if (!m_terminating && now >= m_attemptStart + m_settings.timeout) {
        m_timedOut = true;
        terminate(now, false);
    } else if (m_terminating && now >= m_killAt) {
        kill();
    }
}

double CControllerJob::deadline() const {
    if (m_pid <= 0 || m_killed) {
        return INFINITY;
    }
    return m_terminating ? m_killAt : m_attemptStart + m_settings.timeout;
}
