#include "fleet/FleetReport.h"

#include "fleet/UtcTime.h"

#include <cmath>
#include <sstream>

namespace {

std::string line(const CFleetReport::Row& row) {
    std::ostringstream text;
    text << row.name << "  " << row.result;
    if (row.result == "changed") {
        text << ": " << row.changes;
    } else if (row.result == "failed") {
        text << "  status " << row.exitStatus << ": " << row.message;
    }
    text << "  " << row.attempts << (row.attempts == 1 ? " attempt" : " attempts") << "  "
         << std::lround(row.durationS) << " s";
    return text.str();
}

nlohmann::ordered_json textOrNull(const std::string& text) {
    return text.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(text);
}

long epochOf(const std::string& iso) {
    time_t when = 0;
    return CUtcTime::parseIso(iso, &when) ? static_cast<long>(when) : 0;
}

// One gauge with a sample per row.
template <typename Value>
void gauge(std::ostream& out, const char* name, const char* help,
           const std::vector<CFleetReport::Row>& rows, Value value) {
    out << "# HELP " << name << " " << help << "\n# TYPE " << name << " gauge\n";
    for (const CFleetReport::Row& row : rows) {
        out << name << "{controller=\"" << row.name << "\"} " << value(row) << "\n";
    }
}

} // namespace

bool CFleetReport::anyFailed() const {
    for (const Row& row : m_rows) {
        if (row.result == "failed") {
            return true;
        }
    }
    return false;
}

void CFleetReport::writeText(std::ostream& out) const {
    int ok = 0, unchanged = 0, failed = 0;
    for (bool failures : {true, false}) {
        for (const Row& row : m_rows) {
            if ((row.result == "failed") == failures) {
                out << line(row) << "\n";
            }
        }
    }
    for (const Row& row : m_rows) {
        ++(row.result == "failed" ? failed : row.result == "unchanged" ? unchanged : ok);
    }
    out << ok << " ok, " << unchanged << " unchanged, " << failed << " failed\n";
}

std::string CFleetReport::json(time_t started, time_t finished) const {
    nlohmann::ordered_json controllers = nlohmann::ordered_json::array();
    for (const Row& row : m_rows) {
        controllers.push_back({{"name", row.name},
                               {"address", row.address},
                               {"result", row.result},
                               {"exit_status", row.exitStatus},
                               {"message", row.message},
                               {"attempts", row.attempts},
                               {"duration_s", std::round(row.durationS * 10) / 10},
                               {"backup", textOrNull(row.backup)},
                               {"changes", textOrNull(row.changes)}});
    }
    const nlohmann::ordered_json report = {{"started", CUtcTime::iso(started)},
                                   {"finished", CUtcTime::iso(finished)},
                                   {"controllers", controllers}};
    return report.dump(2) + "\n";
}

std::string CFleetReport::metrics(time_t finished) const {
    std::ostringstream out;
    gauge(out, "tursa_backup_last_success_timestamp_seconds", "Start of the last good backup (0: never).",
          m_rows, [](const Row& row) { return epochOf(row.state.lastSuccess); });
    gauge(out, "tursa_backup_last_attempt_timestamp_seconds", "Start of the last attempt.", m_rows,
          [](const Row& row) { return epochOf(row.state.lastAttempt); });
    gauge(out, "tursa_backup_last_exit_status", "Exit status of the last attempt.", m_rows,
          [](const Row& row) { return row.state.lastStatus; });
    gauge(out, "tursa_backup_consecutive_failures", "Runs in a row whose last attempt failed.", m_rows,
          [](const Row& row) { return row.state.consecutiveFailures; });
    gauge(out, "tursa_backup_duration_seconds", "Time the controller took in the last run.", m_rows,
          [](const Row& row) { return std::round(row.durationS * 10) / 10; });
    gauge(out, "tursa_backup_size_bytes", "Size of the latest good backup.", m_rows,
          [](const Row& row) { return row.latestSize; });
    out << "# HELP tursa_fleet_run_finished_timestamp_seconds End of the last run.\n"
        << "# TYPE tursa_fleet_run_finished_timestamp_seconds gauge\n"
        << "tursa_fleet_run_finished_timestamp_seconds " << static_cast<long>(finished) << "\n";
    return out.str();
}
