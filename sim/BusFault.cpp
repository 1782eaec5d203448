#include "BusFault.h"

#include "TextParsing.h"

namespace sim {

namespace {

struct KindInfo {
    const char* name;
    BusFault::Kind kind;
    bool needsArg;
    bool allowsArg;
};

const KindInfo kKinds[] = {
    {"noreply", BusFault::Kind::NoReply, false, true},
    {"badsum", BusFault::Kind::BadSum, false, false},
    {"wrongsrc", BusFault::Kind::WrongSource, false, false},
    {"count", BusFault::Kind::Count, false, false},
    {"late", BusFault::Kind::Late, true, true},
    {"oversize", BusFault::Kind::Oversize, false, false},
    {"negative", BusFault::Kind::Negative, false, false},
    {"close", BusFault::Kind::Close, true, true},
    {"damage", BusFault::Kind::Damage, false, false},
    {"twice", BusFault::Kind::Twice, false, true},
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

bool BusFault::hits(unsigned long n) const {
    if (kind == Kind::NoReply) {
        return n >= count && n - count < arg;
    }
    if (kind == Kind::Twice) {
        return n >= count;
    }
    return n == count;
}

bool BusFault::parse(const std::string& text, BusFault* fault, std::string* error) {
    std::vector<std::string> parts = TextParsing::split(text, ':');
    const KindInfo* info = findKind(parts[0]);
    if (info == nullptr) {
        *error = "unknown bus fault kind in '" + text + "'";
        return false;
    }
    size_t wanted = info->needsArg ? 4 : 3;
    if (parts.size() != wanted && !(info->allowsArg && parts.size() == 4)) {
        *error = "bus fault '" + text + "' needs the form " + info->name +
                 (info->needsArg    ? ":FUNC:N:ARG"
                  : info->allowsArg ? ":FUNC:N[:ARG]"
                                    : ":FUNC:N");
        return false;
    }
    unsigned long function = 0;
    if (!TextParsing::decimalOrHex(parts[1], 255, &function) ||
        !TextParsing::decimal(parts[2], 0xFFFFFFFFUL, &fault->count) || fault->count == 0) {
        *error = "bus fault '" + text + "' needs a FUNC 0..255 (or 0x00..0xff) and an N from 1";
        return false;
    }
    fault->kind = info->kind;
    fault->function = static_cast<unsigned char>(function);
    fault->arg = info->kind == Kind::NoReply ? 1 : info->kind == Kind::Twice ? 50 : 0;
    if (parts.size() == 4 && !TextParsing::decimal(parts[3], 0xFFFFFFFFUL, &fault->arg)) {
        *error = "bus fault '" + text + "' has a bad argument";
        return false;
    }
    if (info->kind == Kind::NoReply && fault->arg == 0) {
        *error = "bus fault '" + text + "': noreply covers at least one request";
        return false;
    }
    return true;
}

} // namespace sim
