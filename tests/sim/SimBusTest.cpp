// The simulator's bus gateway on port 11575, driven over a socket with the
// test's own reading of the telegram format: byte for byte exchanges, the
// module state in the state directory, faults, options and hostile clients.
#include "support/Loopback.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <optional>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

using namespace std::string_literals;
using testsupport::SimProcess;

namespace {

const uint32_t kArea = 0x30000;
const size_t kAreaSize = 62000;

// Transmitted telegram from the tool (0xF0 unless told otherwise). Sets
// *filler when the checksum needed the filler DLE.
std::string encode(int dest, int func, const std::string& info, int src = 0xF0,
                   bool* filler = nullptr) {
    std::string body{char(dest), char(func), char(src)};
    body += info;
    std::string wire = "\x02";
    for (char c : body) {
        if (c == '\x03' || c == '\x10') {
            wire += '\x10';
        }
        wire += c;
    }
    unsigned sum = 0;
    for (size_t i = 1; i < wire.size(); ++i) {
        sum += static_cast<unsigned char>(wire[i]);
    }
    unsigned char check = static_cast<unsigned char>(0x100 - (sum & 0xFF));
    bool needsFiller = check == 0x03 || check == 0x10;
    if (needsFiller) {
        wire += '\x10';
        check = static_cast<unsigned char>(check - 0x10);
    }
    if (filler != nullptr) {
        *filler = needsFiller;
    }
    return wire + char(check) + '\x03';
}

std::string frame(const std::string& telegram) {
    return "\x01\x01"s + char(telegram.size() & 0xFF) + char(telegram.size() >> 8) + telegram;
}

struct Telegram {
    int dest = -1, func = -1, src = -1;
    std::string info;
};

// Strict: the byte sum after STX is 0, the checksum is not escaped, and a
// DLE stands only before 03/10 or as the filler before the checksum.
std::optional<Telegram> decode(const std::string& wire) {
    if (wire.size() < 6 || wire.front() != '\x02' || wire.back() != '\x03') {
        return std::nullopt;
    }
    unsigned char sum = 0;
    for (size_t i = 1; i + 1 < wire.size(); ++i) {
        sum = static_cast<unsigned char>(sum + static_cast<unsigned char>(wire[i]));
    }
    const size_t checkAt = wire.size() - 2;
    if (sum != 0 || wire[checkAt] == '\x03' || wire[checkAt] == '\x10') {
        return std::nullopt;
    }
    std::string body;
    for (size_t i = 1; i < checkAt; ++i) {
        if (wire[i] == '\x03') {
            return std::nullopt;
        }
        if (wire[i] != '\x10') {
            body += wire[i];
        } else if (i + 1 == checkAt) {
            break;
        } else if (wire[i + 1] == '\x03' || wire[i + 1] == '\x10') {
            body += wire[++i];
        } else {
            return std::nullopt;
        }
    }
    if (body.size() < 3) {
        return std::nullopt;
    }
    Telegram t;
    t.dest = static_cast<unsigned char>(body[0]);
    t.func = static_cast<unsigned char>(body[1]);
    t.src = static_cast<unsigned char>(body[2]);
    t.info = body.substr(3);
    return t;
}

std::string addressed(uint32_t address, unsigned count) {
    return {char(address & 0xFF), char((address >> 8) & 0xFF), char((address >> 16) & 0xFF), '\0',
            char(count)};
}

// CRC-32 (reflected 0xEDB88320) then the byte sum, as the modules report it.
std::string moduleCrc(const std::string& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    unsigned char sum = 0;
    for (char c : bytes) {
        sum = static_cast<unsigned char>(sum + static_cast<unsigned char>(c));
        crc ^= static_cast<unsigned char>(c);
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ ((crc & 1) ? 0xEDB88320u : 0);
        }
    }
    crc = ~crc;
    return {char(crc & 0xFF), char((crc >> 8) & 0xFF), char((crc >> 16) & 0xFF), char(crc >> 24),
            char(sum)};
}

int connectTo(const std::string& address, int port) {
    sockaddr_in where{};
    where.sin_family = AF_INET;
    where.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &where.sin_addr);
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (connect(fd, reinterpret_cast<sockaddr*>(&where), sizeof where) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// A client connection to one port of the simulator.
class Link {
public:
    Link(const std::string& address, int port = SimProcess::kBusPort)
        : m_fd(connectTo(address, port)) {}
    ~Link() { shut(); }

    bool ok() const { return m_fd >= 0; }
    void shut() {
        if (m_fd >= 0) {
            close(m_fd);
            m_fd = -1;
        }
    }
    bool send(const std::string& bytes) {
        return ::send(m_fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
    }
    bool request(int dest, int func, const std::string& info = "") {
        return send(frame(encode(dest, func, info)));
    }

    // Up to n bytes, as many as arrive within the time; *ended on end of stream.
    std::string receive(size_t n, int timeoutMs = 2000, bool* ended = nullptr) {
        std::string bytes;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (bytes.size() < n) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            pollfd watched{m_fd, POLLIN, 0};
            if (left.count() <= 0 || poll(&watched, 1, int(left.count())) <= 0) {
                break;
            }
            char buffer[4096];
            ssize_t got = recv(m_fd, buffer, std::min(sizeof buffer, n - bytes.size()), 0);
            if (got <= 0) {
                if (ended != nullptr) {
                    *ended = true;
                }
                break;
            }
            bytes.append(buffer, size_t(got));
        }
        return bytes;
    }

    // The telegram bytes of the next reply frame; empty when none arrives.
    std::string replyWire(int timeoutMs = 2000) {
        std::string header = receive(4, timeoutMs);
        if (header.size() != 4 || header[0] != '\x01' || header[1] != '\x01') {
            return "";
        }
        size_t length = static_cast<unsigned char>(header[2]) |
                        size_t(static_cast<unsigned char>(header[3])) << 8;
        return receive(length, timeoutMs);
    }
    std::optional<Telegram> reply(int timeoutMs = 2000) { return decode(replyWire(timeoutMs)); }

private:
    int m_fd;
};

// Nothing answered the requests sent before: a following identification
// of FPM 1 is the first thing to come back.
void expectUnansweredSoFar(Link& link) {
    ASSERT_TRUE(link.request(0xC1, 0x02, "\0"s));
    auto answer = link.reply();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->func, 0x02);
    EXPECT_EQ(answer->src, 0xC1);
}

class SimBus : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_FALSE(address.empty()) << "no free loopback address"; }

    // A simulator that crashed, or that a sanitizer flagged, fails the test here.
    void TearDown() override {
        if (sim.process().running()) {
            EXPECT_EQ(sim.stop(), std::optional<int>(0)) << sim.stderrText();
        }
    }

    std::string address = testsupport::reserveLoopbackAddress();
    testsupport::TempDir dir;
    SimProcess sim;
};

} // namespace

TEST_F(SimBus, IdentifiesAndReadsTheTemplateAreaByteForByte) {
    ASSERT_TRUE(sim.start(address, {}, dir.path())) << sim.stderrText();
    Link link(address);
    ASSERT_TRUE(link.ok());

    ASSERT_TRUE(link.send("\x01\x01\x07\x00\x02\xC1\x02\xF0\x00\x4D\x03"s));
    EXPECT_EQ(link.receive(11), "\x01\x01\x07\x00\x02\xF0\x02\xC1\x01\x4C\x03"s);

    // FPM 2: the read function 0x03 itself travels stuffed.
    const std::string templates = sim.fpmTemplates(2);
    ASSERT_EQ(templates.size(), kAreaSize);
    EXPECT_NE(templates, sim.fpmTemplates(1));
    for (char c : {'\x02', '\x03', '\x10'}) {
        EXPECT_NE(templates.find(c), std::string::npos);
    }
    ASSERT_EQ(encode(0xC2, 0x03, addressed(kArea, 1)).substr(0, 5), "\x02\xC2\x10\x03\xF0"s);
    std::string read;
    for (size_t offset = 0; offset < kAreaSize; offset += 250) {
        unsigned count = unsigned(std::min<size_t>(250, kAreaSize - offset));
        ASSERT_TRUE(link.request(0xC2, 0x03, addressed(uint32_t(kArea + offset), count)));
        auto answer = link.reply();
        ASSERT_TRUE(answer) << offset;
        ASSERT_EQ(answer->func, 0x03);
        ASSERT_EQ(answer->src, 0xC2);
        read += answer->info;
    }
    EXPECT_TRUE(read == templates) << "the reads give fpm2.bin";

    // A request and a reply that need the filler before their checksum.
    bool filler = false;
    unsigned count = 1;
    while (encode(0xC1, 0x03, addressed(kArea, count), 0xF0, &filler), !filler) {
        ++count;
    }
    ASSERT_TRUE(link.request(0xC1, 0x03, addressed(kArea, count)));
    auto answer = link.reply();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->info, sim.fpmTemplates(1).substr(0, count));
    uint32_t offset = 0;
    std::string expected;
    do {
        expected = encode(0xF0, 0x03, sim.fpmTemplates(1).substr(++offset, 16), 0xC1, &filler);
    } while (!filler);
    ASSERT_TRUE(link.request(0xC1, 0x03, addressed(kArea + offset, 16)));
    EXPECT_EQ(link.replyWire(), expected);

    // Outside the template area the answer holds no bytes.
    for (auto request : {addressed(kArea - 1, 2), addressed(kArea + kAreaSize - 10, 11)}) {
        ASSERT_TRUE(link.request(0xC1, 0x03, request));
        answer = link.reply();
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->info, "");
    }

    // No answer: absent module, bad checksum, unknown function, the group.
    ASSERT_TRUE(link.request(0xC4, 0x02, "\0"s));
    std::string spoilt = encode(0xC1, 0x02, "\0"s);
    spoilt[spoilt.size() - 2] ^= 0x01;
    ASSERT_TRUE(link.send(frame(spoilt)));
    ASSERT_TRUE(link.request(0xC1, 0x55));
    ASSERT_TRUE(link.request(0xCF, 0x03, addressed(kArea, 4)));
    ASSERT_TRUE(link.send(frame(encode(0xC1, 0x02, "\0"s, 0xC2)))); // not from the tool
    expectUnansweredSoFar(link);

    ASSERT_FALSE(sim.frames(SimProcess::kBusPort).empty());
    EXPECT_EQ(sim.frames(SimProcess::kBusPort)[0], "01 01 07 00 02 c1 02 f0 00 4d 03");
}

TEST_F(SimBus, WritesNeedProgrammingModeAndShowInTheCrc) {
    ASSERT_TRUE(sim.start(address, {}, dir.path())) << sim.stderrText();
    Link link(address);
    ASSERT_TRUE(link.ok());
    const std::string before = sim.fpmTemplates(1);
    const std::string crcBefore = sim.fpmCrc(1);
    ASSERT_EQ(crcBefore, moduleCrc(before + sim.fpmConfig(1)));
    ASSERT_TRUE(link.request(0xC1, 0x06, "\x02"s));
    auto answer = link.reply(10000);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->info, crcBefore);

    const std::string data = "\x03\x10\x02\x00"s;
    const std::string write = addressed(kArea + 0x10, 4) + data;
    ASSERT_TRUE(link.request(0xC1, 0x04, write));
    expectUnansweredSoFar(link);
    EXPECT_FALSE(sim.fpmProgMode(1));

    ASSERT_TRUE(link.request(0xFF, 0x07));
    expectUnansweredSoFar(link);
    EXPECT_TRUE(sim.fpmProgMode(1) && sim.fpmProgMode(2) && sim.fpmProgMode(3));
    ASSERT_TRUE(link.request(0xC1, 0x04, write));
    answer = link.reply();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->func, 0x04);
    EXPECT_EQ(answer->info, "");

    ASSERT_TRUE(link.request(0xC1, 0x06, "\x02"s));
    answer = link.reply(10000);
    ASSERT_TRUE(answer);
    std::string after = before;
    after.replace(0x10, 4, data);
    EXPECT_EQ(sim.fpmTemplates(1), after) << "a CRC request writes fpm1.bin";
    EXPECT_EQ(answer->info, moduleCrc(after + sim.fpmConfig(1)));
    EXPECT_NE(answer->info, crcBefore);
    EXPECT_EQ(sim.fpmCrc(1), answer->info);

    // One more byte, then the connection ends: the file follows without a CRC request.
    ASSERT_TRUE(link.request(0xC1, 0x04, addressed(kArea + kAreaSize - 1, 1) + "\x5A"));
    ASSERT_TRUE(link.reply());
    link.shut();
    after.back() = '\x5A';
    for (int i = 0; i < 200 && sim.fpmTemplates(1) != after; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(sim.fpmTemplates(1), after);

    Link next(address);
    ASSERT_TRUE(next.request(0xFF, 0x08));
    const std::string config = "\x10\x03\x00\x7F\xFE"s;
    ASSERT_TRUE(next.request(0xCF, 0x60, "\x01"s + config));
    ASSERT_TRUE(next.request(0xC2, 0x04, write)); // out of programming mode again
    expectUnansweredSoFar(next);
    EXPECT_FALSE(sim.fpmProgMode(2));
    for (int n : {1, 2, 3}) {
        ASSERT_TRUE(next.request(0xC0 + n, 0x5E));
        answer = next.reply(10000);
        ASSERT_TRUE(answer);
        EXPECT_EQ(answer->info, config) << n;
        EXPECT_EQ(sim.fpmConfig(n), config) << n;
    }
    ASSERT_TRUE(next.request(0xC3, 0x60, "\x01\x01\x02\x03\x04\x05"s));
    answer = next.reply(10000);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->func, 0x1D);
    EXPECT_EQ(sim.fpmConfig(3), "\x01\x02\x03\x04\x05"s);
    EXPECT_EQ(sim.fpmCrc(3), moduleCrc(sim.fpmTemplates(3) + "\x01\x02\x03\x04\x05"s));

    ASSERT_TRUE(next.request(0xC2, 0x5A, "\0\0"s));
    answer = next.reply(90000);
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->func, 0x5A);
    EXPECT_EQ(sim.fpmTemplates(2), std::string(kAreaSize, '\xFF'));
}

TEST_F(SimBus, FaultsBendTheRepliesButRequestsAreCarriedOut) {
    ASSERT_TRUE(
        sim.start(address,
                  {"--bus-fault", "noreply:2:1:3", "--bus-fault", "badsum:0x02:4", "--bus-fault",
                   "wrongsrc:2:5", "--bus-fault", "count:3:1", "--bus-fault", "oversize:2:6",
                   "--bus-fault", "negative:2:7", "--bus-fault", "late:2:8:300", "--bus-fault",
                   "noreply:4:1", "--bus-fault", "close:2:9:5", "--bus-fault", "damage:0x5e:2",
                   "--bus-fault", "twice:0x5e:1:100"},
                  dir.path()))
        << sim.stderrText();
    Link link(address);
    ASSERT_TRUE(link.ok());
    const std::string identify = "\0"s;
    ASSERT_TRUE(link.request(0xC1, 0x02, identify)); // 1st: no reply
    ASSERT_TRUE(link.request(0xC4, 0x02, identify)); // 2nd: absent module, still counted
    ASSERT_TRUE(link.request(0xC2, 0x02, identify)); // 3rd: no reply either
    ASSERT_TRUE(link.request(0xC1, 0x02, identify)); // 4th: bad checksum
    std::string wire = link.replyWire();
    ASSERT_EQ(wire.size(), 7u);
    EXPECT_EQ(wire.substr(0, 5), "\x02\xF0\x02\xC1\x01"s);
    EXPECT_NE(wire[5], '\x4C');
    EXPECT_TRUE(wire[5] != '\x03' && wire[5] != '\x10');
    EXPECT_EQ(wire[6], '\x03');

    ASSERT_TRUE(link.request(0xC2, 0x02, identify)); // 5th: from another module
    auto answer = link.reply();
    ASSERT_TRUE(answer);
    EXPECT_TRUE(answer->src != 0xC2 && answer->src >= 0xC1 && answer->src <= 0xC8);
    EXPECT_EQ(answer->info, "\xFE"s) << "its own info bytes";

    ASSERT_TRUE(link.request(0xC1, 0x03, addressed(kArea, 10)));
    answer = link.reply();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->info, sim.fpmTemplates(1).substr(0, 9));

    ASSERT_TRUE(link.request(0xC1, 0x02, identify)); // 6th: 600 data bytes
    std::string oversize = link.receive(604);
    ASSERT_EQ(oversize.size(), 604u);
    EXPECT_EQ(oversize.substr(0, 4), "\x01\x01\x58\x02"s);
    EXPECT_EQ(oversize.substr(4, 7), "\x02\xF0\x02\xC1\x01\x4C\x03"s);
    EXPECT_EQ(oversize.substr(11), std::string(593, '\0'));

    ASSERT_TRUE(link.request(0xC1, 0x02, identify)); // 7th: negative length
    std::string negative = link.receive(11);
    ASSERT_EQ(negative.size(), 11u);
    EXPECT_EQ(negative[2], '\x07');
    EXPECT_GE(static_cast<unsigned char>(negative[3]), 0x80);
    EXPECT_EQ(negative.substr(4), "\x02\xF0\x02\xC1\x01\x4C\x03"s);

    auto sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(link.request(0xC1, 0x02, identify)); // 8th: 300 ms late
    ASSERT_TRUE(link.reply());
    // The simulator's clock counts whole milliseconds.
    EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(299));

    ASSERT_TRUE(link.request(0xFF, 0x07));
    ASSERT_TRUE(link.request(0xC1, 0x04, addressed(kArea, 2) + "\xAB\xCD"));
    ASSERT_TRUE(link.request(0xC1, 0x03, addressed(kArea, 2)));
    answer = link.reply();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->func, 0x03) << "the unanswered write came back";
    EXPECT_EQ(answer->info, "\xAB\xCD") << "the unanswered write was stored";

    sent = std::chrono::steady_clock::now();
    ASSERT_TRUE(link.request(0xC1, 0x5E)); // the reply, and again 100 ms later
    const std::string configWire = link.replyWire();
    EXPECT_EQ(link.replyWire(), configWire) << "the copy";
    EXPECT_GE(std::chrono::steady_clock::now() - sent, std::chrono::milliseconds(99));
    const auto config = decode(configWire);
    ASSERT_TRUE(config);
    ASSERT_TRUE(link.request(0xC1, 0x5E)); // damaged with a right checksum, once
    answer = link.reply();
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->info.size(), config->info.size());
    EXPECT_NE(answer->info, config->info);

    ASSERT_TRUE(link.request(0xC1, 0x02, identify)); // 9th: 5 bytes, then the end
    bool ended = false;
    EXPECT_EQ(link.receive(100, 2000, &ended), "\x01\x01\x07\x00\x02"s);
    EXPECT_TRUE(ended);

    Link again(address);
    ASSERT_TRUE(again.request(0xC1, 0x02, identify)); // 10th: as usual
    EXPECT_EQ(again.replyWire(), "\x02\xF0\x02\xC1\x01\x4C\x03"s);

    // Each reply a fault bent, as the fault was given; the absent module's
    // lookup had none to bend.
    std::vector<std::string> named;
    for (const testsupport::SimEvent& event : sim.events()) {
        if (event.what.rfind("fault ", 0) == 0 && event.port == SimProcess::kBusPort) {
            named.push_back(event.what.substr(6));
        }
    }
    EXPECT_EQ(named, (std::vector<std::string>{"noreply:2:1", "noreply:2:1", "badsum:0x02:4",
                                               "wrongsrc:2:5", "count:3:1", "oversize:2:6",
                                               "negative:2:7", "late:2:8", "noreply:4:1",
                                               "twice:0x5e:1", "damage:0x5e:2", "close:2:9"}));
}

TEST_F(SimBus, EventsLogConnectionsOnTheSimulatorsClock) {
    ASSERT_TRUE(sim.start(address, {}, dir.path())) << sim.stderrText();
    {
        Link data(address, SimProcess::kDataPort);
        ASSERT_TRUE(data.send("\x01\x07\x00"s));
        ASSERT_EQ(data.receive(3).size(), 3u);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
    {
        Link bus(address);
        ASSERT_TRUE(bus.request(0xC1, 0x02, "\0"s));
        ASSERT_TRUE(bus.reply());
    }
    std::vector<testsupport::SimEvent> events;
    for (int i = 0; i < 200 && events.size() < 6; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        events = sim.events();
    }
    ASSERT_EQ(events.size(), 6u);
    const std::vector<std::pair<int, std::string>> expected = {
        {11574, "open"},
        {11574, "frame 01 07 00"},
        {11574, "close"},
        {11575, "open"},
        {11575, "frame 01 01 07 00 02 c1 02 f0 00 4d 03"},
        {11575, "close"},
    };
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(events[i].port, expected[i].first) << i;
        EXPECT_EQ(events[i].what, expected[i].second) << i;
        EXPECT_LE(i == 0 ? events[0].ms : events[i - 1].ms, events[i].ms) << i;
    }
    EXPECT_GE(events[3].ms - events[2].ms, 240) << "the pause between the two connections";
    EXPECT_LT(events[3].ms - events[2].ms, 5000);
}
