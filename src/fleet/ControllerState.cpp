#include "fleet/ControllerState.h"

nlohmann::ordered_json CControllerState::toJson() const {
    return {{"last_attempt", lastAttempt},
            {"last_result", lastResult},
            {"last_status", lastStatus},
            {"last_message", lastMessage},
            {"last_success", lastSuccess.empty() ? nlohmann::ordered_json() : nlohmann::ordered_json(lastSuccess)},
            {"consecutive_failures", consecutiveFailures}};
}

CControllerState CControllerState::fromJson(const std::string& text) {
    CControllerState state;
    const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    if (!json.is_object()) {
        return state;
    }
    try {
        state.lastAttempt = json.value("last_attempt", "");
        state.lastResult = json.value("last_result", "");
        state.lastStatus = json.value("last_status", 0);
        state.lastMessage = json.value("last_message", "");
        const auto success = json.find("last_success");
        state.lastSuccess = success != json.end() && success->is_string() ? success->get<std::string>() : "";
        state.consecutiveFailures = json.value("consecutive_failures", 0);
    } catch (const nlohmann::json::exception&) {
        return CControllerState(); // a value of another type: edited by hand
    }
    return state;
}
