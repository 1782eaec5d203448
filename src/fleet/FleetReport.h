#pragma once

#include "fleet/ControllerState.h"

#include <ctime>
#include <ostream>
#include <string>
#include <vector>

// What a run did, one row per controller that finished: as lines of text
// (failures first, then a summary), as the JSON report and as metrics in
// the text format of the node exporter's textfile collector.
class CFleetReport {
public:
    struct Row {
        std::string name;
        std::string address;
        std::string result; // "ok", "unchanged", "changed" or "failed"
        int exitStatus = 0;
        std::string message;
        int attempts = 0;
        double durationS = 0;
        std::string backup;  // the file that holds this run's data, or ""
        std::string changes; // of a changed result
        CControllerState state; // after the run
        long latestSize = 0;    // of latest's file
    };

    void add(Row row) { m_rows.push_back(std::move(row)); }
    bool anyFailed() const;

    void writeText(std::ostream& out) const;
    std::string json(time_t started, time_t finished) const;
    std::string metrics(time_t finished) const;

private:
    std::vector<Row> m_rows;
};
