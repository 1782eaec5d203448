#include "Fault.h"

#include "TextParsing.h"

namespace sim {

namespace {

using Kind = Fault::Kind;
using Port = Fault::Port;

enum class Arg { None, Optional, Required };

struct KindInfo {
    Port port;
    const char* name;
    Kind kind;
    Arg arg;
    unsigned long defaultArg;
};

const KindInfo kKinds[] = {
    {Port::Data, "noreply", Kind::NoReply, Arg::None, 1},
    {Port::Data, "late", Kind::Late, Arg::Required, 0},
    {Port::Data, "truncate", Kind::Truncate, Arg::Required, 0},
    {Port::Data, "error", Kind::Error, Arg::Optional, 1},
    {Port::Data, "close", Kind::Close, Arg::Required, 0},
    {Port::Data, "garbage", Kind::Garbage, Arg::None, 0},
    {Port::Data, "trickle", Kind::Trickle, Arg::Required, 0},
    {Port::Bus, "noreply", Kind::NoReply, Arg::Optional, 1},
    {Port::Bus, "badsum", Kind::BadSum, Arg::None, 0},
    {Port::Bus, "wrongsrc", Kind::WrongSource, Arg::None, 0},
    {Port::Bus, "count", Kind::Count, Arg::None, 0},
    {Port::Bus, "late", Kind::Late, Arg::Required, 0},
    {Port::Bus, "oversize", Kind::Oversize, Arg::None, 0},
    {Port::Bus, "negative", Kind::Negative, Arg::None, 0},
    {Port::Bus, "close", Kind::Close, Arg::Required, 0},
    {Port::Bus, "damage", Kind::Damage, Arg::None, 0},
    {Port::Bus, "twice", Kind::Twice, Arg::Optional, 50},
};

const KindInfo* findKind(Port port, const std::string& name) {
    for (const KindInfo& info : kKinds) {
        if (info.port == port && name == info.name) {
            return &info;
        }
    }
    return nullptr;
}

bool argCountFits(Arg arg, size_t parts) {
    return parts == 3 ? arg != Arg::Required : parts == 4 && arg != Arg::None;
}

std::string formOf(const KindInfo& info) {
    const char* which = info.port == Port::Bus ? ":FUNC:N" : ":TYPE:N";
    return info.name + std::string(which) +
           (info.arg == Arg::Required ? ":ARG" : info.arg == Arg::Optional ? "[:ARG]" : "");
}

} // namespace

bool Fault::hits(unsigned long n) const {
    if (kind == Kind::NoReply) {
        return n >= count && n - count < arg;
    }
    return kind == Kind::Twice ? n >= count : n == count;
}

Mischief Fault::mischief(LengthField field) const {
    using Bend = Mischief::Kind;
    Mischief bend;
    switch (kind) {
    case Kind::NoReply:
        bend.kind = Bend::Silence;
        break;
    case Kind::Late:
        bend.kind = Bend::Late;
        bend.delayMs = arg;
        break;
    case Kind::Close:
        bend.kind = Bend::Close;
        bend.keep = arg;
        bend.mutes = true;
        break;
    case Kind::Truncate: // the header and arg data bytes, then silence
        bend.kind = Bend::Truncate;
        bend.keep = field.dataStart() + arg;
        bend.mutes = true;
        break;
    case Kind::Trickle:
        bend.kind = Bend::Trickle;
        bend.delayMs = arg;
        bend.byteByByte = true;
        break;
    case Kind::Oversize:
        bend.kind = Bend::Oversize;
        break;
    case Kind::Negative:
        bend.kind = Bend::Negative;
        break;
    case Kind::Twice:
        bend.kind = Bend::Twice;
        bend.spanMs = arg;
        break;
    default:
        break; // the content is bent, the bytes go out at once
    }
    return bend;
}

bool Fault::parse(Port port, const std::string& text, Fault* fault, std::string* error) {
    const bool bus = port == Port::Bus;
    const std::string what = std::string(bus ? "bus fault '" : "fault '") + text + "'";
    const std::vector<std::string> parts = TextParsing::split(text, ':');
    const KindInfo* info = findKind(port, parts[0]);
    if (info == nullptr) {
        *error = std::string("unknown ") + (bus ? "bus " : "") + "fault kind in '" + text + "'";
        return false;
    }
    if (!argCountFits(info->arg, parts.size())) {
        *error = what + " needs the form " + formOf(*info);
        return false;
    }
    unsigned long which = 0;
    const bool whichRead = bus ? TextParsing::decimalOrHex(parts[1], 255, &which)
                               : TextParsing::decimal(parts[1], 255, &which);
    if (!whichRead || !TextParsing::decimal(parts[2], 0xFFFFFFFFUL, &fault->count) ||
        fault->count == 0) {
        *error = what + " needs " + (bus ? "a FUNC 0..255 (or 0x00..0xff)" : "a TYPE 0..255") +
                 " and an N from 1";
        return false;
    }
    *fault = Fault{port, info->kind, static_cast<unsigned char>(which), fault->count,
                   info->defaultArg, parts[0] + ":" + parts[1] + ":" + parts[2]};
    if (parts.size() == 4 && !TextParsing::decimal(parts[3], 0xFFFFFFFFUL, &fault->arg)) {
        *error = what + " has a bad argument";
        return false;
    }
    if (fault->kind == Kind::Error && fault->arg != 1 && fault->arg != 2) {
        *error = what + ": the error id is 1 or 2";
        return false;
    }
    if (fault->kind == Kind::NoReply && fault->arg == 0) {
        *error = what + ": noreply covers at least one request";
        return false;
    }
    return true;
}

} // namespace sim
