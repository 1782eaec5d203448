#include "BusService.h"

#include "ReplyBender.h"

#include <cstdio>

namespace sim {

namespace {

const size_t kMaxMadeUpInfo = 8;
// The frame's 16-bit data length behind its start and type bytes.
const LengthField kLengthField{2, 2};

enum Function : unsigned char {
    kReset = 0x01,
    kRead = 0x03,
    kWrite = 0x04,
    kCheck = 0x06,
    kProgModeOn = 0x07,
    kProgModeOff = 0x08,
    kClean = 0x5A,
    kReadConfig = 0x5E,
    kWriteConfig = 0x60,
    kCompDb = 0x71,
};

bool isModuleAddress(unsigned char address) {
    return address > BusTelegram::kFirstModuleAddress &&
           address <= BusTelegram::kFirstModuleAddress + 8;
}

// How long the tool waits for the reply to a request: 300 ms when it goes
// to a group of modules, else by its function.
unsigned long clientTimeoutMs(const BusTelegram& request) {
    if (!isModuleAddress(request.destination)) {
        return 300;
    }
    switch (request.function) {
    case kCheck:
    case kReadConfig:
    case kWriteConfig:
        return 10000;
    case kClean:
    case kCompDb:
        return 90000;
    case kProgModeOn:
    case kProgModeOff:
        return 300;
    case kReset:
    default:
        return 1000;
    }
}

HostilePlan::Traffic trafficOf(const BusTelegram& request) {
    return request.function == kRead || request.function == kWrite ? HostilePlan::Traffic::Bulk
                                                                   : HostilePlan::Traffic::Step;
}

// A module number other than the one that answers, for a reply from the wrong source.
unsigned char otherModuleAddress(unsigned char address) {
    int number = address - BusTelegram::kFirstModuleAddress;
    return static_cast<unsigned char>(BusTelegram::kFirstModuleAddress + number % 8 + 1);
}

// Another module, or any other address.
unsigned char anotherSource(unsigned char source, Prng* prng) {
    return prng->chance(500000) ? otherModuleAddress(source)
                                : static_cast<unsigned char>(source ^ prng->between(1, 255));
}

// The checksum byte of an encoded telegram made wrong, though never 0x03
// or 0x10, so that the telegram still ends where it should.
void spoilChecksum(std::string* telegram) {
    char& checksum = (*telegram)[telegram->size() - 2];
    do {
        checksum = static_cast<char>(checksum + 1);
    } while (checksum == '\x03' || checksum == '\x10');
}

// Two info bytes altered by the same amount in opposite directions: the
// telegram is encoded afresh, so its checksum is right and only the
// content tells the damage.
void damageInfo(std::string* info) {
    if (info->size() < 2) {
        return;
    }
    const size_t first = info->size() / 3;
    const size_t second = first + 1;
    (*info)[first] = static_cast<char>((*info)[first] + 0x21);
    (*info)[second] = static_cast<char>((*info)[second] - 0x21);
}

// The answer's telegram as the fault has it: from another module with its
// info bytes inverted, one info byte short, damaged, or with a wrong
// checksum. Every other fault bends the reply frame on its way out.
std::string faultyTelegram(const Fault& fault, BusTelegram* answer) {
    switch (fault.kind) {
    case Fault::Kind::WrongSource:
        answer->source = otherModuleAddress(answer->source);
        for (char& byte : answer->info) {
            byte = static_cast<char>(~byte);
        }
        break;
    case Fault::Kind::Count:
        if (!answer->info.empty()) { // an answer without info bytes stays as it is
            answer->info.pop_back();
        }
        break;
    case Fault::Kind::Damage:
        damageInfo(&answer->info);
        break;
    default:
        break;
    }
    std::string telegram = answer->encode();
    if (fault.kind == Fault::Kind::BadSum) {
        spoilChecksum(&telegram);
    }
    return telegram;
}

} // namespace

BusService::BusService(const Options& options, ModuleBus* bus, FaultPlan* faults,
                       HostilePlan* hostile, StateDir* state)
    : m_options(options), m_bus(bus), m_faults(faults), m_hostile(hostile), m_state(state) {}

void BusService::connectionOpened() {
    m_reader.clear();
    m_muted = false;
}

void BusService::connectionClosed() {
    m_bus->saveChanged();
}

bool BusService::bytesReceived(const char* bytes, size_t length, std::vector<Reply>* replies) {
    m_reader.append(bytes, length);
    BusFrame frame;
    for (;;) {
        switch (m_reader.next(&frame)) {
        case BusFrameReader::Result::NeedMore:
            return true;
        case BusFrameReader::Result::BadStart:
            std::fprintf(stderr, "tursa-sim: bus frame does not start with 01; "
                                 "closing the connection\n");
            return false;
        case BusFrameReader::Result::TooLong:
            std::fprintf(stderr,
                         "tursa-sim: bus frame announces %u data bytes, more than the %u "
                         "accepted; closing the connection\n",
                         m_reader.refusedLength(), BusFrame::kMaxDataLength);
            return false;
        case BusFrameReader::Result::Complete:
            m_state->logFrame(kPort, frame.wire);
            handleFrame(frame, replies);
            break;
        }
    }
}

void BusService::handleFrame(const BusFrame& frame, std::vector<Reply>* replies) {
    BusTelegram request;
    switch (BusTelegram::decode(frame.data, &request)) {
    case BusTelegram::Decoded::Ok:
        break;
    case BusTelegram::Decoded::BadChecksum:
        return; // the modules ignore it, like any telegram damaged on the bus
    case BusTelegram::Decoded::Malformed:
        std::fprintf(stderr, "tursa-sim: bus frame of %zu data bytes holds no telegram\n",
                     frame.data.size());
        return;
    }
    const Fault* fault = m_faults->countRequest(Fault::Port::Bus, request.function);
    BusTelegram answer;
    const bool answered = m_bus->handle(request, &answer);
    if (m_muted) {
        if (m_hostile != nullptr) {
            m_state->logEvent(kPort, Mischief::of(Mischief::Kind::Mute).describe());
        }
        return;
    }
    // A fault given for the request bends the reply; else the hostile
    // peer, if played, may.
    Mischief mischief;
    std::string bytes;
    if (fault != nullptr && answered) {
        m_state->logEvent(kPort, fault->describe());
        bytes = BusFrame::wrap(faultyTelegram(*fault, &answer));
        mischief = fault->mischief(kLengthField);
    } else if (fault == nullptr && m_hostile != nullptr) {
        mischief = drawMischief(frame.wire, request, answered ? &answer : nullptr, &bytes);
    } else if (answered) {
        bytes = BusFrame::wrap(answer.encode());
    } else {
        return; // nothing answers, and a fault bends only a reply that there is
    }
    m_muted = mischief.mutes;
    Prng* prng = m_hostile != nullptr ? m_hostile->prng() : nullptr;
    for (Reply& reply : ReplyBender(prng).bend(mischief, std::move(bytes), kLengthField)) {
        reply.delayMs += m_options.busDelayMs;
        replies->push_back(std::move(reply));
    }
}

Mischief BusService::drawMischief(const std::string& wire, const BusTelegram& request,
                                  BusTelegram* answer, std::string* bytes) {
    Mischief mischief = m_hostile->next(wire, trafficOf(request), clientTimeoutMs(request));
    if (answer == nullptr) {
        *bytes = madeUpAnswer(request, &mischief);
    } else {
        if (mischief.kind == Mischief::Kind::Source) {
            answer->source = anotherSource(answer->source, m_hostile->prng());
        }
        *bytes = BusFrame::wrap(answer->encode());
    }
    if (mischief.kind != Mischief::Kind::None) {
        m_state->logEvent(kPort, mischief.describe());
    }
    return mischief;
}

// Where nothing would answer, the peer stays silent (and says so in the
// events log), unless it makes a reply up.
std::string BusService::madeUpAnswer(const BusTelegram& request, Mischief* mischief) {
    Prng* prng = m_hostile->prng();
    switch (mischief->kind) {
    case Mischief::Kind::Source: {
        BusTelegram madeUp;
        madeUp.destination = BusTelegram::kToolAddress;
        madeUp.function = request.function;
        madeUp.source = isModuleAddress(request.destination)
                            ? request.destination
                            : static_cast<unsigned char>(BusTelegram::kFirstModuleAddress +
                                                         prng->between(1, 8));
        madeUp.info = prng->bytes(prng->below(kMaxMadeUpInfo + 1));
        return BusFrame::wrap(madeUp.encode());
    }
    case Mischief::Kind::Garbage:
    case Mischief::Kind::Extra:
        mischief->kind = Mischief::Kind::Garbage;
        return std::string();
    default:
        *mischief = Mischief::of(Mischief::Kind::Silence);
        return std::string();
    }
}

} // namespace sim
