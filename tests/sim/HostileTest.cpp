// The simulator's reply bending in the process: the hostile peer's choices
// hang only on the seed, the port and the request; each mischief bends the
// bytes as it says; a fault bends the reply to the request it hits and is
// named in the events log; and the events log names exactly the replies
// the hostile peer did not send at once and intact, which the soak's time
// bound relies on.
#include "BusFrame.h"
#include "BusService.h"
#include "BusTelegram.h"
#include "DataService.h"
#include "Fault.h"
#include "HostilePlan.h"
#include "ModuleBus.h"
#include "ReplyBender.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <iomanip>
#include <map>
#include <regex>
#include <sys/stat.h>
#include <sstream>

using namespace std::string_literals;
using sim::HostilePlan;
using sim::Mischief;
using Kind = sim::Mischief::Kind;

namespace {

const uint16_t kBusPort = 11575;
const unsigned long kBlockTimeoutMs = 1000;

// What the plan makes of the requests, named as in the events log.
std::vector<std::string> draws(HostilePlan* plan, const std::vector<std::string>& requests) {
    std::vector<std::string> seen;
    for (const std::string& request : requests) {
        const auto traffic = request.rfind("step", 0) == 0 ? HostilePlan::Traffic::Step
                                                           : HostilePlan::Traffic::Bulk;
        seen.push_back(plan->next(request, traffic, kBlockTimeoutMs).describe());
    }
    return seen;
}

std::vector<std::string> draws(uint64_t seed, uint16_t port,
                               const std::vector<std::string>& requests) {
    HostilePlan plan(seed, port, 20);
    return draws(&plan, requests);
}

// Steps and blocks 0 to count-1 by turns, each sent twice in a row, as a
// client's retries.
std::vector<std::string> requests(int count) {
    std::vector<std::string> all;
    for (int i = 0; i < count; ++i) {
        all.insert(all.end(), 2, (i % 2 == 0 ? "step " : "block ") + std::to_string(i));
    }
    return all;
}

// The hostile lines of events.log, one entry per frame received: the kind
// named after it, or "" when none follows.
std::vector<std::string> hostileKindPerFrame(const std::string& eventsLog) {
    std::istringstream log(testsupport::readFile(eventsLog));
    std::vector<std::string> kinds;
    for (std::string line; std::getline(log, line);) {
        std::istringstream fields(line);
        std::string ms, port, what, kind;
        fields >> ms >> port >> what >> kind;
        if (what == "frame") {
            kinds.push_back("");
        } else if (what == "hostile" && !kinds.empty() && kinds.back().empty()) {
            kinds.back() = kind;
        }
    }
    return kinds;
}

std::string joined(const std::vector<sim::Reply>& replies) {
    std::string bytes;
    for (const sim::Reply& reply : replies) {
        bytes += reply.bytes;
    }
    return bytes;
}

// The replies as one line: each piece in hex with "+MS" behind it, and
// " close" after one that ends the connection.
std::string shown(const std::vector<sim::Reply>& replies) {
    std::ostringstream text;
    for (const sim::Reply& reply : replies) {
        text << (&reply == &replies.front() ? "" : " ") << std::hex << std::setfill('0');
        for (char byte : reply.bytes) {
            text << std::setw(2) << static_cast<int>(static_cast<unsigned char>(byte));
        }
        text << std::dec << "+" << reply.delayMs << (reply.closeAfterwards ? " close" : "");
    }
    return text.str();
}

// One request to the hostile service and to its sound twin.
struct Exchange {
    bool connected; // the client connected again before it
    std::vector<sim::Reply> replies;
    std::string sound;
};

// Sends count requests to both services. The client connects again after
// a close, and every 50 requests anyway.
std::vector<Exchange> drive(sim::Service* hostile, sim::Service* twin,
                            const std::function<std::string(int)>& request, int count) {
    std::vector<Exchange> exchanges;
    twin->connectionOpened();
    bool closed = true;
    for (int i = 0; i < count; ++i) {
        Exchange exchange{closed || i % 50 == 0, {}, ""};
        if (exchange.connected) {
            hostile->connectionOpened();
        }
        const std::string bytes = request(i);
        std::vector<sim::Reply> twinReplies;
        hostile->bytesReceived(bytes.data(), bytes.size(), &exchange.replies);
        twin->bytesReceived(bytes.data(), bytes.size(), &twinReplies);
        exchange.sound = joined(twinReplies);
        closed = !exchange.replies.empty() && exchange.replies.back().closeAfterwards;
        exchanges.push_back(std::move(exchange));
    }
    return exchanges;
}

// Whatever the hostile service sent other than the twin's answer at once,
// the events log names; what it names, it did. Returns how often each
// kind was named ("" for none).
std::map<std::string, int> expectEventsNameBentReplies(const std::vector<Exchange>& exchanges,
                                                       const std::string& eventsLog) {
    const auto kinds = hostileKindPerFrame(eventsLog);
    EXPECT_EQ(kinds.size(), exchanges.size());
    std::map<std::string, int> counts;
    bool muted = false;
    for (size_t i = 0; i < std::min(kinds.size(), exchanges.size()); ++i) {
        const Exchange& exchange = exchanges[i];
        const std::string bytes = joined(exchange.replies);
        const bool atOnce = exchange.replies.size() == 1 && exchange.replies[0].delayMs == 0 &&
                            !exchange.replies[0].closeAfterwards;
        const std::string& kind = kinds[i];
        ++counts[kind];
        if (kind.empty()) {
            EXPECT_TRUE(atOnce && bytes == exchange.sound) << "request " << i << " bent unnamed";
            EXPECT_FALSE(exchange.sound.empty()) << "request " << i << ": silence unnamed";
        } else if (kind == "silence" || kind == "mute") {
            EXPECT_TRUE(exchange.replies.empty()) << "request " << i << ": " << kind;
        } else if (kind == "late") {
            EXPECT_EQ(bytes, exchange.sound) << "request " << i;
        } else {
            EXPECT_FALSE(atOnce && bytes == exchange.sound) << "request " << i << ": " << kind;
        }
        muted = muted && !exchange.connected;
        EXPECT_TRUE(!muted || kind == "mute") << "request " << i << " answered after mute";
        muted = muted || kind == "mute";
    }
    return counts;
}

// A state directory of its own for each service.
struct ServiceState {
    explicit ServiceState(const std::string& path) : state(path) {
        ::mkdir(path.c_str(), 0700);
        std::string error;
        EXPECT_TRUE(state.open(&error)) << error;
    }
    sim::StateDir state;
};

} // namespace

// A client on a loaded machine may time out once more and repeat a request:
// that repeat meets a fate of its own, and every other request the same
// fate as before.
TEST(HostilePeerPlan, ChoicesHangOnlyOnSeedPortAndRequest) {
    std::vector<std::string> sequence = requests(3000);
    const auto seven = draws(7, kBusPort, sequence);
    EXPECT_EQ(draws(7, kBusPort, sequence), seven);
    EXPECT_NE(draws(8, kBusPort, sequence), seven);
    EXPECT_NE(draws(7, 11574, sequence), seven);

    sequence.insert(sequence.begin() + 1001, sequence[1000]);
    auto repeated = draws(7, kBusPort, sequence);
    repeated.erase(repeated.begin() + 1002); // the third attempt of step 500
    EXPECT_EQ(repeated, seven);
}

TEST(ReplyBender, EachHostileKindBendsTheBytesAsItSays) {
    // A controller reply with a 32-bit length behind its first three bytes.
    const std::string sound = "\x01\x01\x02\x28\x00\x00\x00"s + std::string(40, 'd');
    sim::Prng prng(5);
    for (int round = 0; round < 200; ++round) {
        auto bend = [&](Kind kind) {
            Mischief mischief = Mischief::of(kind);
            mischief.delayMs = 7;
            mischief.spanMs = 30;
            return sim::ReplyBender(&prng).bend(mischief, sound, sim::LengthField{3, 4});
        };
        auto isFirstPart = [&sound](const std::string& part) {
            return !part.empty() && part.size() < sound.size() && sound.rfind(part, 0) == 0;
        };
        for (Kind kind : {Kind::None, Kind::Late, Kind::Source}) {
            EXPECT_EQ(shown(bend(kind)), shown({sim::Reply{sound, 7, false}}));
        }
        EXPECT_TRUE(bend(Kind::Silence).empty());
        EXPECT_TRUE(bend(Kind::Mute).empty());

        const std::string corrupt = bend(Kind::Corrupt).at(0).bytes;
        EXPECT_EQ(corrupt.size(), sound.size());
        EXPECT_NE(corrupt, sound);
        const std::string bent = bend(Kind::Length).at(0).bytes;
        EXPECT_EQ(bent.substr(0, 3) + bent.substr(7), sound.substr(0, 3) + sound.substr(7));
        EXPECT_NE(bent.substr(3, 4), sound.substr(3, 4));
        EXPECT_TRUE(isFirstPart(bend(Kind::Truncate).at(0).bytes));
        const std::string extra = bend(Kind::Extra).at(0).bytes;
        EXPECT_TRUE(extra.size() > sound.size() && extra.rfind(sound, 0) == 0);
        EXPECT_FALSE(bend(Kind::Garbage).at(0).bytes.empty());
        const sim::Reply closing = bend(Kind::Close).at(0);
        EXPECT_TRUE(closing.closeAfterwards);
        EXPECT_TRUE(closing.bytes.empty() || isFirstPart(closing.bytes));

        const auto pieces = bend(Kind::Trickle);
        ASSERT_GE(pieces.size(), 2u);
        EXPECT_EQ(joined(pieces), sound);
        EXPECT_EQ(pieces.front().delayMs, 7u);
        EXPECT_EQ(pieces.back().delayMs, 37u);
        for (size_t i = 1; i < pieces.size(); ++i) {
            EXPECT_LE(pieces[i - 1].delayMs, pieces[i].delayMs);
        }
    }
}

// Each fault hits the first version request (7) or restore of DayLightConfig
// (1), which is then sent again on the same connection; every reply comes
// 5 ms late by --delay.
TEST(FaultedServices, ADataFaultBendsTheReplyItHitsAndIsLoggedOnce) {
    const std::string version = "\x01\x07\x00"s;
    const std::string restore = "\x01\x01\x02\x01\x00\x00\x00\x7f"s;
    struct Case {
        const char* fault;
        std::string request;
        std::string bent; // the replies, as shown()
        std::string next; // the replies to the request sent again
    };
    const Case cases[] = {
        {"noreply:7:1", version, "", "01086b+5"},
        {"late:7:1:250", version, "01086b+255", "01086b+5"},
        {"error:1:1:2", restore, "01020200000000+5", "01020000000000+5"},
        {"garbage:7:1", version, "01086c+5", "01086b+5"},
        {"close:7:1:2", version, "0108+5 close", ""},
        {"truncate:1:1:0", restore, "01020000000000+5", ""}, // the header, then silence
        {"truncate:7:1:1", version, "01086b+5", ""},         // a reply that is all header
        {"trickle:7:1:20", version, "01+25 08+45 6b+65", "01086b+5"},
    };
    testsupport::TempDir dir;
    sim::Options options;
    options.delayMs = 5;
    sim::DataSets sets;
    sets.generate(1, options.sizes);
    for (const Case& c : cases) {
        sim::Fault fault;
        std::string error;
        ASSERT_TRUE(sim::Fault::parse(sim::Fault::Port::Data, c.fault, &fault, &error)) << error;
        ServiceState state(dir.file(c.fault));
        sim::FaultPlan plan({fault});
        sim::DataService service(options, &sets, &plan, nullptr, &state.state);
        service.connectionOpened();
        std::vector<sim::Reply> bent, next;
        service.bytesReceived(c.request.data(), c.request.size(), &bent);
        service.bytesReceived(c.request.data(), c.request.size(), &next);
        EXPECT_EQ(shown(bent), c.bent) << c.fault;
        EXPECT_EQ(shown(next), c.next) << c.fault;
        const std::string log = testsupport::readFile(dir.file(c.fault) + "/events.log");
        // KIND:TYPE:N as given, without the ARG.
        const std::string named =
            std::regex_replace(c.fault, std::regex("^(\\w+:\\w+:\\w+).*"), " 11574 fault $1\n");
        EXPECT_NE(log.find(named), std::string::npos) << c.fault;
        EXPECT_EQ(log.find(named), log.rfind(named)) << c.fault << ": logged twice";
    }
}

// Lookups of modules 1 to 4, module 4 being absent.
TEST(HostileServices, BusEventsLogNamesEveryReplyNotSentAtOnceAndIntact) {
    testsupport::TempDir dir;
    sim::Options options;
    options.fpms = {1, 2, 3};
    ServiceState hostileState(dir.file("hostile"));
    ServiceState twinState(dir.file("twin"));
    sim::ModuleBus bus(options, &hostileState.state);
    sim::ModuleBus twinBus(options, &twinState.state);
    sim::FaultPlan noFaults({});
    HostilePlan plan(21, kBusPort, 1);
    sim::BusService hostile(options, &bus, &noFaults, &plan, &hostileState.state);
    sim::BusService twin(options, &twinBus, &noFaults, nullptr, &twinState.state);

    const auto exchanges = drive(&hostile, &twin, [](int i) {
        sim::BusTelegram lookup;
        lookup.destination = static_cast<unsigned char>(0xC1 + i % 4);
        lookup.function = 0x02;
        lookup.source = sim::BusTelegram::kToolAddress;
        lookup.info = "\x00"s;
        return sim::BusFrame::wrap(lookup.encode());
    }, 3000);
    auto counts = expectEventsNameBentReplies(exchanges, dir.file("hostile/events.log"));
    EXPECT_GT(counts[""], 1700) << "most lookups of modules 1 to 3 answered soundly";
    EXPECT_GT(counts["silence"], 500) << "module 4 never answers";
    EXPECT_GT(counts["source"], 0) << "answers from elsewhere, or made up for module 4";
    EXPECT_GT(counts["mute"], 1) << "a connection fallen silent stays silent";
}

// Version requests and backups of data set 1.
TEST(HostileServices, DataEventsLogNamesEveryReplyNotSentAtOnceAndIntact) {
    testsupport::TempDir dir;
    sim::Options options;
    ServiceState hostileState(dir.file("hostile"));
    ServiceState twinState(dir.file("twin"));
    sim::DataSets sets;
    sets.generate(1, options.sizes);
    sim::FaultPlan noFaults({});
    HostilePlan plan(22, 11574, 1000);
    sim::DataService hostile(options, &sets, &noFaults, &plan, &hostileState.state);
    sim::DataService twin(options, &sets, &noFaults, nullptr, &twinState.state);

    const auto exchanges = drive(&hostile, &twin, [](int i) {
        return i % 2 == 0 ? "\x01\x07\x00"s : "\x01\x00\x01"s;
    }, 2000);
    auto counts = expectEventsNameBentReplies(exchanges, dir.file("hostile/events.log"));
    EXPECT_GT(counts[""], 1600) << "most requests answered soundly";
    EXPECT_GT(counts["length"], 0);
    EXPECT_GT(counts["mute"], 1);
}
