#include "Options.h"

#include "TextParsing.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <functional>
#include <map>

namespace sim {

namespace {

bool parseUnsigned(const std::string& text, unsigned long long max, unsigned long long* value) {
    if (text.empty() || text.size() > 20 ||
        text.find_first_not_of("0123456789") != std::string::npos) {
        return false;
    }
    errno = 0;
    *value = std::strtoull(text.c_str(), nullptr, 10);
    return errno == 0 && *value <= max;
}

bool parseSizes(const std::string& text, std::array<size_t, DataSets::kCount>* sizes) {
    size_t start = 0;
    for (int id = 0; id < DataSets::kCount; ++id) {
        size_t comma = text.find(',', start);
        bool last = id == DataSets::kCount - 1;
        if (last != (comma == std::string::npos)) {
            return false;
        }
        unsigned long long size = 0;
        if (!parseUnsigned(text.substr(start, comma - start), Options::kMaxDataLength, &size)) {
            return false;
        }
        (*sizes)[id] = static_cast<size_t>(size);
        start = comma + 1;
    }
    return true;
}

// "none" or module numbers 1..8 separated by commas, each at most once.
bool parseFpms(const std::string& text, std::vector<int>* fpms) {
    fpms->clear();
    if (text == "none") {
        return true;
    }
    for (const std::string& part : TextParsing::split(text, ',')) {
        unsigned long number = 0;
        if (!TextParsing::decimal(part, 8, &number) || number == 0 ||
            std::find(fpms->begin(), fpms->end(), static_cast<int>(number)) != fpms->end()) {
            return false;
        }
        fpms->push_back(static_cast<int>(number));
    }
    std::sort(fpms->begin(), fpms->end());
    return true;
}

// N:HEX10, the five configuration bytes of module N.
bool parseFpmConfig(const std::string& text, int* number, std::string* config) {
    std::vector<std::string> parts = TextParsing::split(text, ':');
    unsigned long n = 0;
    if (parts.size() != 2 || !TextParsing::decimal(parts[0], 8, &n) || n == 0 ||
        parts[1].size() != 10 ||
        parts[1].find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        return false;
    }
    *number = static_cast<int>(n);
    config->clear();
    for (size_t i = 0; i < parts[1].size(); i += 2) {
        config->push_back(static_cast<char>(std::stoul(parts[1].substr(i, 2), nullptr, 16)));
    }
    return true;
}

bool isLoopback(const std::string& address) {
    in_addr parsed{};
    inet_pton(AF_INET, address.c_str(), &parsed);
    return (ntohl(parsed.s_addr) >> 24) == 127;
}

bool addFault(Fault::Port port, const std::string& text, Options* options, std::string* error) {
    Fault fault;
    if (!Fault::parse(port, text, &fault, error)) {
        return false;
    }
    options->faults.push_back(fault);
    return true;
}

using ValueHandler = std::function<bool(Options*, const std::string&, std::string*)>;

// Reports a bad value in one common wording.
bool badValue(const std::string& option, const std::string& value, const std::string& expected,
              std::string* error) {
    *error = "bad value '" + value + "' for " + option + " (expected " + expected + ")";
    return false;
}

const std::map<std::string, ValueHandler>& valueOptions() {
    static const std::map<std::string, ValueHandler> handlers = {
        {"--address",
         [](Options* o, const std::string& v, std::string* e) {
             in_addr parsed{};
             if (inet_pton(AF_INET, v.c_str(), &parsed) != 1) {
                 return badValue("--address", v, "a dotted IPv4 address", e);
             }
             o->address = v;
             return true;
         }},
        {"--interface-version",
         [](Options* o, const std::string& v, std::string* e) {
             unsigned long long n = 0;
             if (!parseUnsigned(v, 255, &n)) {
                 return badValue("--interface-version", v, "0..255", e);
             }
             o->interfaceVersion = static_cast<unsigned char>(n);
             return true;
         }},
        {"--password",
         [](Options* o, const std::string& v, std::string*) {
             o->password = v;
             return true;
         }},
        {"--data-dir",
         [](Options* o, const std::string& v, std::string*) {
             o->dataDir = v;
             return true;
         }},
        {"--seed",
         [](Options* o, const std::string& v, std::string* e) {
             unsigned long long n = 0;
             if (!parseUnsigned(v, UINT64_MAX, &n)) {
                 return badValue("--seed", v, "an unsigned number", e);
             }
             o->seed = n;
             return true;
         }},
        {"--sizes",
         [](Options* o, const std::string& v, std::string* e) {
             if (!parseSizes(v, &o->sizes)) {
                 return badValue("--sizes", v, "four byte counts a,b,c,d up to 256 MiB", e);
             }
             return true;
         }},
        {"--state-dir",
         [](Options* o, const std::string& v, std::string* e) {
             if (v.empty()) {
                 return badValue("--state-dir", v, "a directory", e);
             }
             o->stateDir = v;
             return true;
         }},
        {"--lifetime",
         [](Options* o, const std::string& v, std::string* e) {
             unsigned long long n = 0;
             if (!parseUnsigned(v, 86400, &n) || n == 0) {
                 return badValue("--lifetime", v, "1..86400 seconds", e);
             }
             o->lifetimeSeconds = static_cast<unsigned long>(n);
             return true;
         }},
        {"--delay",
         [](Options* o, const std::string& v, std::string* e) {
             unsigned long long n = 0;
             if (!parseUnsigned(v, 3600000, &n)) {
                 return badValue("--delay", v, "milliseconds up to 3600000", e);
             }
             o->delayMs = static_cast<unsigned long>(n);
             return true;
         }},
        {"--restore-ack",
         [](Options* o, const std::string& v, std::string* e) {
             if (v == "type2") {
                 o->restoreAck = Options::RestoreAck::Type2;
             } else if (v == "header") {
                 o->restoreAck = Options::RestoreAck::Header;
             } else {
                 return badValue("--restore-ack", v, "type2 or header", e);
             }
             return true;
         }},
        {"--fault",
         [](Options* o, const std::string& v, std::string* e) {
             return addFault(Fault::Port::Data, v, o, e);
         }},
        {"--fpms",
         [](Options* o, const std::string& v, std::string* e) {
             if (!parseFpms(v, &o->fpms)) {
                 return badValue("--fpms", v, "none or distinct numbers 1..8 like 1,2,3", e);
             }
             return true;
         }},
        {"--fpm-config",
         [](Options* o, const std::string& v, std::string* e) {
             int number = 0;
             std::string config;
             if (!parseFpmConfig(v, &number, &config)) {
                 return badValue("--fpm-config", v, "N:HEX10 with N 1..8 and 10 hex digits", e);
             }
             o->fpmConfigs[number] = config;
             return true;
         }},
        {"--bus-delay",
         [](Options* o, const std::string& v, std::string* e) {
             unsigned long long n = 0;
             if (!parseUnsigned(v, 3600000, &n)) {
                 return badValue("--bus-delay", v, "milliseconds up to 3600000", e);
             }
             o->busDelayMs = static_cast<unsigned long>(n);
             return true;
         }},
        {"--bus-fault",
         [](Options* o, const std::string& v, std::string* e) {
             return addFault(Fault::Port::Bus, v, o, e);
         }},
        {"--hostile",
         [](Options* o, const std::string& v, std::string* e) {
             unsigned long long n = 0;
             if (!parseUnsigned(v, UINT64_MAX, &n)) {
                 return badValue("--hostile", v, "an unsigned number", e);
             }
             o->hostile = true;
             o->hostileSeed = n;
             return true;
         }},
        {"--client-speedup",
         [](Options* o, const std::string& v, std::string* e) {
             unsigned long long n = 0;
             if (!parseUnsigned(v, 1000, &n) || n == 0) {
                 return badValue("--client-speedup", v, "1..1000", e);
             }
             o->clientSpeedup = static_cast<unsigned long>(n);
             return true;
         }},
    };
    return handlers;
}

bool setFlag(const std::string& name, Options* options) {
    if (name == "--allow-remote") {
        options->allowRemote = true;
    } else if (name == "--refuse") {
        options->refuse = true;
    } else if (name == "--refuse-bus") {
        options->refuseBus = true;
    } else if (name == "--blank-fpms") {
        options->blankFpms = true;
    } else if (name == "--help") {
        options->help = true;
    } else {
        return false;
    }
    return true;
}

bool checkCombination(const Options& options, std::string* error) {
    if (options.stateDir.empty()) {
        *error = "--state-dir is required";
        return false;
    }
    if (!options.allowRemote && !isLoopback(options.address)) {
        *error = "refusing to listen on non-loopback address " + options.address +
                 " without --allow-remote";
        return false;
    }
    for (const auto& entry : options.fpmConfigs) {
        // A configuration for a module that is not there is most likely a typo.
        if (std::find(options.fpms.begin(), options.fpms.end(), entry.first) ==
            options.fpms.end()) {
            *error = "--fpm-config for module " + std::to_string(entry.first) +
                     ", which is not in --fpms";
            return false;
        }
    }
    return true;
}

} // namespace

bool Options::parse(const std::vector<std::string>& args, Options* options, std::string* error) {
    for (size_t i = 1; i < args.size(); ++i) {
        std::string name = args[i];
        size_t equals = name.find('=');
        bool inlineValue = name.compare(0, 2, "--") == 0 && equals != std::string::npos;
        std::string value = inlineValue ? name.substr(equals + 1) : "";
        if (inlineValue) {
            name.resize(equals);
        }
        if (!inlineValue && setFlag(name, options)) {
            continue;
        }
        auto handler = valueOptions().find(name);
        if (handler == valueOptions().end()) {
            *error = "unknown option '" + args[i] + "'";
            return false;
        }
        if (!inlineValue) {
            if (i + 1 >= args.size()) {
                *error = "option " + name + " needs a value";
                return false;
            }
            value = args[++i];
        }
        if (!handler->second(options, value, error)) {
            return false;
        }
    }
    return options->help || checkCombination(*options, error);
}

const char* Options::usage() {
    return "Usage: tursa-sim --state-dir DIR [options]\n"
           "Plays the access-control controller: its data service on TCP port 11574 and\n"
           "its gateway to the finger print modules (FPM 1..8) on the bus, port 11575.\n"
           "\n"
           "  --state-dir DIR           where the data sets (<name>.bin), the modules\n"
           "                            (fpm<n>.bin, .cfg, .crc, .progmode), frames.log,\n"
           "                            events.log and the file ready (holding the pid)\n"
           "                            are written; created with missing parents\n"
           "  --address A               IPv4 address to listen on (default 127.0.0.1)\n"
           "  --allow-remote            permit an address outside 127.0.0.0/8\n"
           "  --interface-version N     version reported to a version request, 0..255\n"
           "                            (default 107)\n"
           "  --password PW             the 'Service' user's password (default service)\n"
           "  --data-dir DIR            data sets from DIR/<name>.bin, a missing file is\n"
           "                            an empty set (overrides --seed and --sizes)\n"
           "  --seed S                  seed of the generated data sets, module template\n"
           "                            areas and module configuration (default 1)\n"
           "  --sizes a,b,c,d           sizes of the generated data sets in bytes\n"
           "                            (default 1200,5000,40,16)\n"
           "  --restore-ack type2|header  acknowledge a restore with 01 02 00 00 00 00 00\n"
           "                            (default) or with 01 06 00\n"
           "  --lifetime SECONDS        end by itself after this long (default 600)\n"
           "  --delay MS                send every reply on port 11574 MS milliseconds late\n"
           "  --refuse                  do not listen on port 11574 at all\n"
           "  --fault KIND:TYPE:N[:ARG] misbehave on the N-th request (counted from 1 over\n"
           "                            the simulator's life) of frame type TYPE on port\n"
           "                            11574; repeatable:\n"
           "      noreply:TYPE:N        no reply, the connection stays open\n"
           "      late:TYPE:N:MS        the reply comes MS milliseconds late (on top of --delay)\n"
           "      truncate:TYPE:N:K     the reply's header and only K data bytes, then silence\n"
           "      error:TYPE:N[:ID]     the error response 01 02 ID 00 00 00 00 (ID 1 or 2,\n"
           "                            default 1); the request is not carried out\n"
           "      close:TYPE:N:K        only the first K bytes of the reply, then the\n"
           "                            connection is closed\n"
           "      garbage:TYPE:N        the reply with its data id incremented by one\n"
           "      trickle:TYPE:N:MS     the reply one byte at a time, MS milliseconds apart\n"
           "\n"
           "The bus on port 11575:\n"
           "  --fpms LIST               the modules present: numbers 1..8 separated by\n"
           "                            commas, or none (default 1,2,3)\n"
           "  --blank-fpms              every template area starts blank (all 0xFF)\n"
           "  --fpm-config N:HEX10      the 5 configuration bytes of module N as 10 hex\n"
           "                            digits; repeatable (default: generated from --seed,\n"
           "                            the same for every module)\n"
           "  --refuse-bus              do not listen on port 11575 at all\n"
           "  --bus-delay MS            send every bus reply MS milliseconds late\n"
           "  --bus-fault KIND:FUNC:N[:ARG]  misbehave on the N-th request (counted from 1\n"
           "                            over the simulator's life, whatever its destination)\n"
           "                            with function code FUNC (decimal or 0x-hex);\n"
           "                            repeatable. The request is still carried out:\n"
           "      noreply:FUNC:N[:K]    no reply to it and to the next K-1 requests of FUNC\n"
           "                            (K default 1)\n"
           "      badsum:FUNC:N         the reply with a wrong checksum\n"
           "      wrongsrc:FUNC:N       another module answers, its info bytes inverted\n"
           "      count:FUNC:N          the reply carries one info byte fewer\n"
           "      late:FUNC:N:MS        the reply comes MS milliseconds late (on top of\n"
           "                            --bus-delay); replies behind it wait for it\n"
           "      oversize:FUNC:N       the reply frame announces and sends 600 data bytes\n"
           "      negative:FUNC:N       the reply frame's length has its top bit set\n"
           "      damage:FUNC:N         the reply with two info bytes altered and a right\n"
           "                            checksum\n"
           "      twice:FUNC:N[:MS]     the reply to this and every later request of FUNC\n"
           "                            sent again MS milliseconds (default 50) after it\n"
           "      close:FUNC:N:K        only the first K bytes of the reply frame, then the\n"
           "                            connection is closed\n"
           "  events.log names each reply a fault bends: fault KIND:TYPE:N or\n"
           "  fault KIND:FUNC:N, as given without ARG (a request that nothing answers\n"
           "  has no reply to bend)\n"
           "\n"
           "A hostile peer on both ports:\n"
           "  --hostile SEED            most replies as they should be; the others late\n"
           "                            (from none to past the client's time-out),\n"
           "                            missing, with random bytes replaced, with a\n"
           "                            random, huge or negative length, truncated, with\n"
           "                            extra bytes, from another source, replaced by\n"
           "                            random bytes, cut off by a close, or trickled;\n"
           "                            a template block may be cursed: its first 2 to\n"
           "                            16 attempts go wrong. A reply's fate hangs on\n"
           "                            SEED, the request and how often it came before,\n"
           "                            so a run with the same SEED can be replayed.\n"
           "                            events.log names each reply not sent at once\n"
           "                            and intact: hostile KIND +MS\n"
           "  --client-speedup N        the client's clock runs N times as fast (as\n"
           "                            under libfaketime): --hostile divides the delays\n"
           "                            it draws against the client's time-outs by N\n"
           "                            (default 1)\n"
           "  --help                    this text\n";
}

} // namespace sim
