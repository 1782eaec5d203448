#include "e2e/SoakBudget.h"

#include <fstream>
#include <sstream>

namespace e2e {

namespace {

const int kDataPort = 11574;
const long kConnectTimeoutsMs = 20000 + 90000;
const long kPausesBeforeBusMs = 70000 + 5000;
const long kPauseAfterConnectMs = 2000;
const long kLongestPauseMs = 20000;
const long kControllerTimeoutMs = 120000;
const long kCloseAckTimeoutMs = 1000;
const long kDataTimeoutMs = 60000;
const long kGroupTimeoutMs = 300;
const int kMaxTricklePieces = 8;
const long kStartMs = 10000;
const long kPerRequestMs = 3;

struct BusStep {
    int function;
    const char* name;
    long timeoutMs;
    long pauseMs;      // the longest pause next to it
    long retryPauseMs; // before it is sent again after a bad reply
};

const BusStep kBusSteps[] = {
    {0x01, "reset", 1000, 0, 0},
    {0x02, "lookup", 1000, 0, 0},
    {0x03, "read block", 1000, 0, 0},
    {0x04, "write block", 1000, 0, 700},
    {0x06, "crc", 10000, 2000, 0},
    {0x07, "programming on", 300, 500, 0},
    {0x08, "programming off", 300, 500, 0},
    {0x5A, "clean", 90000, 20000, 0},
    {0x5E, "read config", 10000, 2000, 0},
    {0x60, "write config", 10000, 2000, 0},
    {0x71, "compare db", 90000, 0, 0},
};

std::string bytesOf(const std::string& hex) {
    std::istringstream in(hex);
    std::string bytes;
    for (std::string pair; in >> pair;) {
        bytes += static_cast<char>(std::stoi(pair, nullptr, 16));
    }
    return bytes;
}

std::string controllerStep(unsigned char type, unsigned char dataId) {
    switch (type) {
    case 0:
        return "backup set " + std::to_string(dataId);
    case 1:
        return "restore set " + std::to_string(dataId);
    case 3:
        return "close";
    case 7:
        return "version";
    case 9:
        return "login";
    default:
        return "type " + std::to_string(type);
    }
}

} // namespace

void SoakBudget::update() {
    std::ifstream log(m_path, std::ios::binary);
    log.seekg(static_cast<std::streamoff>(m_offset));
    std::string chunk((std::istreambuf_iterator<char>(log)), std::istreambuf_iterator<char>());
    m_offset += chunk.size();
    m_unfinished += chunk;
    size_t start = 0;
    for (size_t end; (end = m_unfinished.find('\n', start)) != std::string::npos; start = end + 1) {
        take(m_unfinished.substr(start, end - start));
    }
    m_unfinished.erase(0, start);
}

long SoakBudget::boundMs() const {
    const long toolMs = kConnectTimeoutsMs + kPausesBeforeBusMs + m_toolMs + m_lastTimeoutMs +
                        kDataTimeoutMs + kLongestPauseMs;
    return toolMs / m_speedup + m_realMs + kStartMs + kPerRequestMs * m_requests;
}

void SoakBudget::take(const std::string& line) {
    std::istringstream fields(line);
    long ms = 0;
    int port = 0;
    std::string what;
    if (!(fields >> ms >> port >> what)) {
        return;
    }
    std::string rest;
    std::getline(fields >> std::ws, rest);
    if (what == "open" && port == kDataPort) {
        m_toolMs += kPauseAfterConnectMs;
        m_controllerOutOfStep = false;
    } else if (what == "frame") {
        takeFrame(port, rest);
    } else if (what == "hostile") {
        std::istringstream hostile(rest);
        std::string kind;
        char plus = 0;
        long lastByteMs = 0;
        hostile >> kind >> plus >> lastByteMs;
        takeHostile(port, kind, lastByteMs);
    }
}

void SoakBudget::takeFrame(int port, const std::string& hex) {
    ++m_requests;
    const std::string frame = bytesOf(hex);
    if (port != kDataPort) {
        takeBusTelegram(frame);
        return;
    }
    const unsigned char type = frame.size() > 1 ? static_cast<unsigned char>(frame[1]) : 0;
    const unsigned char dataId = frame.size() > 2 ? static_cast<unsigned char>(frame[2]) : 0;
    m_lastTimeoutMs = type == 3 ? kCloseAckTimeoutMs : kControllerTimeoutMs;
    m_lastRetryPauseMs = 0;
    if (m_controllerOutOfStep) {
        m_toolMs += m_lastTimeoutMs;
    }
    if (type != 3) {
        m_phase = "controller " + controllerStep(type, dataId);
    }
}

// Frame 01 01 LL LL, then STX, the byte-stuffed destination, function, ...
void SoakBudget::takeBusTelegram(const std::string& frame) {
    std::string body;
    for (size_t i = 5; i < frame.size() && body.size() < 2; ++i) {
        body += frame[i] == 0x10 && i + 1 < frame.size() ? frame[++i] : frame[i];
    }
    const int destination = body.size() > 0 ? static_cast<unsigned char>(body[0]) : -1;
    const int function = body.size() > 1 ? static_cast<unsigned char>(body[1]) : -1;
    const BusStep* step = nullptr;
    for (const BusStep& known : kBusSteps) {
        step = known.function == function ? &known : step;
    }
    const bool toGroup = destination == 0xCF || destination == 0xFF;
    m_lastTimeoutMs = step == nullptr ? kDataTimeoutMs : toGroup ? kGroupTimeoutMs : step->timeoutMs;
    m_lastRetryPauseMs = step == nullptr ? 0 : step->retryPauseMs;
    m_toolMs += step == nullptr ? kLongestPauseMs : step->pauseMs;
    if (step == nullptr) {
        m_phase = "bus function " + std::to_string(function);
    } else if (function != 0x01 && function != 0x08) {
        m_phase = std::string("bus ") + step->name;
    }
}

// A reply that never comes costs one time-out. One that comes late or
// whole (with bytes behind it or from another source) costs at most the
// time-out and its lateness: the tool drops what is left before its next
// request. One whose header may promise more than follows may also hold
// the tool for a data block's 60 s, a trickled one once per piece.
void SoakBudget::takeHostile(int port, const std::string& kind, long lastByteMs) {
    m_toolMs += m_lastRetryPauseMs + m_lastTimeoutMs;
    if (kind == "silence" || kind == "mute") {
        return;
    }
    m_realMs += lastByteMs;
    m_controllerOutOfStep = m_controllerOutOfStep || port == kDataPort;
    if (kind == "trickle") {
        m_toolMs += (kMaxTricklePieces - 1) * m_lastTimeoutMs + kMaxTricklePieces * kDataTimeoutMs;
    } else if (kind != "late" && kind != "extra" && kind != "source" && kind != "close") {
        m_toolMs += kDataTimeoutMs;
    }
}

} // namespace e2e
