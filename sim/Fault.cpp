#include "Fault.h"

#include "TextParsing.h"

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
    {"trickle", Fault::Kind::Trickle, true, true},
};

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
    std::vector<std::string> parts = TextParsing::split(text, ':');
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
    if (!TextParsing::decimal(parts[1], 255, &type) ||
        !TextParsing::decimal(parts[2], 0xFFFFFFFFUL, &fault->count) || fault->count == 0) {
        *error = "fault '" + text + "' needs a TYPE 0..255 and an N from 1";
        return false;
    }
    fault->kind = info->kind;
    fault->type = static_cast<unsigned char>(type);
    fault->arg = info->kind == Kind::Error ? 1 : 0;
    if (parts.size() == 4 && !TextParsing::decimal(parts[3], 0xFFFFFFFFUL, &fault->arg)) {
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
