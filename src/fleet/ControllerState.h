#pragma once

#include <nlohmann/json.hpp>
#include <string>

// What DIR/NAME/state.json keeps of a controller between runs. Times are
// ISO 8601 UTC; lastSuccess is empty when no attempt ever succeeded.
class CControllerState {
public:
    std::string lastAttempt;
    std::string lastResult; // "ok", "unchanged" or "failed"
    int lastStatus = 0;
    std::string lastMessage;
    std::string lastSuccess;
    int consecutiveFailures = 0;

    nlohmann::ordered_json toJson() const;
    // A file that is missing or not such an object gives a blank state.
    static CControllerState fromJson(const std::string& text);
};
