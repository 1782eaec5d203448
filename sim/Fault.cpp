#include "Fault.h"

#include <cstdlib>
#include <vector>

namespace sim {

namespace {

struct KindInfo {
    const char* name;
    Fault::Kind kind;
    bool needsArg;
    bool allowsArg;
};

const KindInfo kKinds[] = {
    {"noreply", Fault::Kind::NoReply, false, false},
    {"late", Fault::Kind::Late, true, true},
    {"truncate", Fault::Kind::Truncate, true, true},
    {"error", Fault::Kind::Error, false, true},
    {"close", Fault::Kind::Close, true, true},
    {"garbage", Fault::Kind::Garbage, false, false},
};

std::vector<std::string> splitAtColons(const std::string& text) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t colon = text.find(':', start);
        parts.push_back(text.substr(start, colon - start));
        if (colon == std::string::npos) {
            return parts;
        }
        start = colon + 1;
    }
}

bool parseNumber(const std::string& text, unsigned long max, unsigned long* value) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
        text.size() > 10) {
        return false;
    }
    *value = std::strtoul(text.c_str(), nullptr, 10);
    return *value <= max;
}

const KindInfo* findKind(const std::string& name) {
    for (const KindInfo& info : kKinds) {
        if (name == info.name) {
            return &info;
        }
    }
    return nullptr;
}

} // namespace

bool Fault::parse(const std::string& text, Fault* fault, std::string* error) {
    std::vector<std::string> parts = splitAtColons(text);
    const KindInfo* info = parts.empty() ? nullptr : findKind(parts[0]);
    if (info == nullptr) {
        *error = "unknown fault kind in '" + text + "'";
        return false;
    }
    size_t wanted = info->needsArg ? 4 : 3;
    if (parts.size() != wanted && !(info->allowsArg && parts.size() == 4)) {
        *error = "fault '" + text + "' needs the form " + info->name +
                 (info->needsArg    ? ":TYPE:N:ARG"
                  : info->allowsArg ? ":TYPE:N[:ARG]"
                                    : ":TYPE:N");
        return false;
    }
    unsigned long type = 0;
    if (!parseNumber(parts[1], 255, &type) || !parseNumber(parts[2], 0xFFFFFFFFUL, &fault->count) ||
        fault->count == 0) {
        *error = "fault '" + text + "' needs a TYPE 0..255 and an N from 1";
        return false;
    }
    fault->kind = info->kind;
    fault->type = static_cast<unsigned char>(type);
    fault->arg = info->kind == Kind::Error ? 1 : 0;
    if (parts.size() == 4 && !parseNumber(parts[3], 0xFFFFFFFFUL, &fault->arg)) {
        *error = "fault '" + text + "' has a bad argument";
        return false;
    }
    if (info->kind == Kind::Error && fault->arg != 1 && fault->arg != 2) {
        *error = "fault '" + text + "': the error id is 1 or 2";
        return false;
    }
    return true;
}

} // namespace sim
