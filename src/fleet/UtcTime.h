#pragma once

#include <ctime>
#include <string>

// Times as the fleet writes them: ISO 8601 UTC with a Z in files and
// reports, YYYYMMDDTHHMMSSZ in file names; and the monotonic clock that the
// run's waits are measured on.
class CUtcTime {
public:
    static std::string iso(time_t when);
    static std::string compact(time_t when);
    // False when the text is no ISO time as iso() writes it.
    static bool parseIso(const std::string& text, time_t* when);
    static bool isCompact(const std::string& text);
    // "90s", "90m", "26h", "7d"; false for anything else.
    static bool parseDuration(const std::string& text, long* seconds);
    // Seconds on the monotonic clock.
    static double monotonic();
};
