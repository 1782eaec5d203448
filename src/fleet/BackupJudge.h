#pragma once

#include "inspect/BackupDiff.h"

#include <string>
#include <vector>

// Whether a backup the tool made counts as good (the inspector's checks of
// tursa-inspect find it complete and consistent), and what it changed
// against the backup before it.
class CBackupJudge {
public:
    struct Verdict {
        bool good = false;
        std::string problem; // the first problem of a bad one
        bool same = false;   // the data equals the earlier backup's
        std::string changes; // "ConfigManager; FPM 3 templates (1,024 bytes)"
    };

    // earlier is "" for a controller without a good backup yet.
    static Verdict judge(const std::string& path, const std::string& earlier);
    // The inspector's first problem with a stored backup; "" when it is good.
    static std::string problemOf(const std::string& path);
    // The differences as one short phrase, each item once.
    static std::string phrase(const std::vector<CBackupDiff::Difference>& differences);
};
