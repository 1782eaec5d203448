#pragma once

#include "fleet/ControllerJob.h"
#include "fleet/FleetReport.h"
#include "fleet/Inventory.h"
#include "fleet/SignalWatch.h"

#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

class CFleetStore;

// One run over the controllers: at most `jobs` tools at once, retries
// after their pause while the others go on, time-outs, the failure hook,
// and on SIGINT, SIGTERM or SIGHUP a SIGTERM to every tool (a second
// signal: SIGKILL). All of it in one loop that sleeps in ppoll() until a
// child ends, a signal comes or a deadline is due.
class CFleetRun {
public:
    struct Options {
        std::string jsonPath;
        std::string metricsPath;
        std::string onFailure;
        int jobs = 64;
        CControllerJob::Settings job;
    };
    static constexpr double HOOK_LIMIT = 60; // seconds a failure hook may take

    CFleetRun(const Options& options, const CFleetStore& store,
              const std::vector<CInventory::Controller>& controllers);

    // The report on standard output and in the files; the exit status: 0
    // all good, 1 any failed, 128 + n after signal n.
    int run();

private:
    struct Hook {
        pid_t pid;
        double killAt;
    };

    void launch(double now);
    void begin(CControllerJob& job, double now);
    void reap(double now);
    void enforceDeadlines(double now);
    void interrupt(int signal, double now);
    void conclude(const CControllerJob& job);
    void startHook(const CControllerJob& job, double now);
    double nextWake() const;
    bool finished() const;
    void showProgress();
    // The report of the concluded controllers, in the inventory's order.
    CFleetReport report() const;
    bool writeFiles(const CFleetReport& report, time_t finished) const;

    const Options& m_options;
    CControllerJob::Settings m_settings;
    const time_t m_started;
    CSignalWatch m_signals;
    std::vector<std::unique_ptr<CControllerJob>> m_jobs;
    size_t m_nextFresh = 0;
    std::vector<CControllerJob*> m_retrying;
    std::unordered_map<pid_t, CControllerJob*> m_running;
    std::vector<Hook> m_hooks;
    std::unordered_set<const CControllerJob*> m_concluded;
    int m_signal = 0;
    std::string m_progress;
};
