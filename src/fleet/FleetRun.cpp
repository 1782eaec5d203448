#include "fleet/FleetRun.h"

#include "fleet/AtomicFile.h"
#include "fleet/ChildProcess.h"
#include "fleet/UtcTime.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <sys/wait.h>
#include <unistd.h>

CFleetRun::CFleetRun(const Options& options, const CFleetStore& store,
                     const std::vector<CInventory::Controller>& controllers)
    : m_options(options), m_settings(options.job), m_started(time(nullptr)) {
    m_settings.stamp = CUtcTime::compact(m_started);
    m_jobs.reserve(controllers.size());
    for (const CInventory::Controller& controller : controllers) {
        m_jobs.push_back(std::make_unique<CControllerJob>(controller, store, m_settings));
    }
}

int CFleetRun::run() {
    while (true) {
        const double now = CUtcTime::monotonic();
        if (m_signal == 0) {
            launch(now);
        }
        if (finished()) {
            break;
        }
        showProgress();
        const double wake = nextWake();
        for (int signal : m_signals.wait(std::isinf(wake) ? -1 : std::max(0.0, wake - now))) {
            if (signal != SIGCHLD) {
                interrupt(signal, CUtcTime::monotonic());
            }
        }
        reap(CUtcTime::monotonic());
        enforceDeadlines(CUtcTime::monotonic());
    }
    if (!m_progress.empty()) {
        std::cout << "\r\033[K";
    }
    const CFleetReport report = this->report();
    report.writeText(std::cout);
    if (m_signal != 0) {
        std::cout << "interrupted by signal " << m_signal << ": " << m_jobs.size() - m_concluded.size()
                  << " controllers not finished\n";
    }
    std::cout.flush();
    const bool written = writeFiles(report, time(nullptr));
    if (m_signal != 0) {
        return 128 + m_signal;
    }
    return report.anyFailed() || !written ? 1 : 0;
}

bool CFleetRun::finished() const {
    const bool noneWaiting = m_signal != 0 || (m_nextFresh == m_jobs.size() && m_retrying.empty());
    return noneWaiting && m_running.empty() && m_hooks.empty();
}

// Retries that are due go first, then the controllers not yet begun.
void CFleetRun::launch(double now) {
    const size_t slots = static_cast<size_t>(m_options.jobs);
    for (auto it = m_retrying.begin(); it != m_retrying.end() && m_running.size() < slots;) {
        CControllerJob* job = *it;
        if (job->retryAt() <= now) {
            it = m_retrying.erase(it);
            begin(*job, now);
        } else {
            ++it;
        }
    }
    while (m_running.size() < slots && m_nextFresh < m_jobs.size()) {
        begin(*m_jobs[m_nextFresh++], now);
    }
}

void CFleetRun::begin(CControllerJob& job, double now) {
    if (job.start(now)) {
        m_running[job.pid()] = &job;
    } else {
        conclude(job);
        startHook(job, now);
    }
}

void CFleetRun::reap(double now) {
    int status = 0;
    for (pid_t pid; (pid = waitpid(-1, &status, WNOHANG)) > 0;) {
        const auto running = m_running.find(pid);
        if (running == m_running.end()) {
            m_hooks.erase(std::remove_if(m_hooks.begin(), m_hooks.end(),
                                         [&](const Hook& hook) { return hook.pid == pid; }),
                          m_hooks.end());
            continue;
        }
        CControllerJob* job = running->second;
        m_running.erase(running);
        if (job->finish(status, now)) {
            m_retrying.push_back(job);
        } else if (!job->abandoned()) {
            conclude(*job);
            if (job->row().result == "failed") {
                startHook(*job, now);
            }
        }
    }
}

void CFleetRun::enforceDeadlines(double now) {
    for (const auto& running : m_running) {
        running.second->enforceTimeout(now);
    }
    for (Hook& hook : m_hooks) {
        if (now >= hook.killAt) {
            kill(-hook.pid, SIGKILL);
            hook.killAt = INFINITY;
        }
    }
}

// The first signal ends the tools in their orderly way and begins nothing
// new; a second one ends every child at once.
void CFleetRun::interrupt(int signal, double now) {
    const bool first = m_signal == 0;
    m_signal = first ? signal : m_signal;
    m_retrying.clear();
    for (const auto& running : m_running) {
        if (first) {
            running.second->terminate(now, true);
        } else {
            running.second->kill();
        }
    }
    for (const Hook& hook : m_hooks) {
        if (!first) {
            kill(-hook.pid, SIGKILL);
        }
    }
}

void CFleetRun::conclude(const CControllerJob& job) {
    m_concluded.insert(&job);
}

CFleetReport CFleetRun::report() const {
    CFleetReport report;
    for (const auto& job : m_jobs) {
        if (m_concluded.count(job.get()) != 0) {
            report.add(job->row());
        }
    }
    return report;
}

// The hook learns about the failure from its environment only: nothing of
// it is put into the command.
void CFleetRun::startHook(const CControllerJob& job, double now) {
    if (m_options.onFailure.empty()) {
        return;
    }
    const CFleetReport::Row& row = job.row();
    CChildProcess::Spec spec;
    spec.argv = {"/bin/sh", "-c", m_options.onFailure};
    spec.environment = {"TURSA_CONTROLLER=" + row.name, "TURSA_ADDRESS=" + row.address,
                        "TURSA_EXIT_STATUS=" + std::to_string(row.exitStatus),
                        "TURSA_MESSAGE=" + row.message, "TURSA_LOG=" + job.logPath()};
    spec.outputFd = STDERR_FILENO;
    try {
        m_hooks.push_back({CChildProcess::spawn(spec), now + HOOK_LIMIT});
    } catch (const std::runtime_error& error) {
        std::cerr << "tursa-fleet: the failure hook for " << row.name << ": " << error.what() << "\n";
    }
}

double CFleetRun::nextWake() const {
    double wake = INFINITY;
    for (const auto& running : m_running) {
        wake = std::min(wake, running.second->deadline());
    }
    for (const Hook& hook : m_hooks) {
        wake = std::min(wake, hook.killAt);
    }
    if (m_running.size() < static_cast<size_t>(m_options.jobs)) {
        for (const CControllerJob* job : m_retrying) {
            wake = std::min(wake, job->retryAt());
        }
    }
    return wake;
}

// One self-erasing line at a terminal, rewritten when a count changes.
void CFleetRun::showProgress() {
    if (!isatty(STDOUT_FILENO)) {
        return;
    }
    const std::string text = "tursa-fleet: " + std::to_string(m_concluded.size()) + " done, " +
                             std::to_string(m_running.size()) + " running, " +
                             std::to_string(m_jobs.size() - m_nextFresh + m_retrying.size()) +
                             " waiting";
    if (text != m_progress) {
        std::cout << "\r\033[K" << text << std::flush;
        m_progress = text;
    }
}

bool CFleetRun::writeFiles(const CFleetReport& report, time_t finished) const {
    try {
        if (!m_options.jsonPath.empty()) {
            CAtomicFile::write(m_options.jsonPath, report.json(m_started, finished), 0644);
        }
        if (!m_options.metricsPath.empty()) {
            CAtomicFile::write(m_options.metricsPath, report.metrics(finished), 0644);
        }
    } catch (const CAtomicFile::StoreError& error) {
        std::cerr << "tursa-fleet: " << error.what() << "\n";
        return false;
    }
    return true;
}
