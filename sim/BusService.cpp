#include "BusService.h"

#include <algorithm>
#include <cstdio>

namespace sim {

namespace {

const size_t kOversizeLength = 600;
const unsigned char kNegativeBit = 0x80;

// A module number other than the one that answers, for a reply from the wrong source.
unsigned char otherModuleAddress(unsigned char address) {
    int number = address - BusTelegram::kFirstModuleAddress;
    return static_cast<unsigned char>(BusTelegram::kFirstModuleAddress + number % 8 + 1);
}

// The checksum byte of an encoded telegram made wrong, though never 0x03
// or 0x10, so that the telegram still ends where it should.
void spoilChecksum(std::string* telegram) {
    char& checksum = (*telegram)[telegram->size() - 2];
    do {
        checksum = static_cast<char>(checksum + 1);
    } while (checksum == '\x03' || checksum == '\x10');
}

} // namespace

BusService::BusService(const Options& options, ModuleBus* bus, BusFaultPlan* faults,
                       StateDir* state)
    : m_options(options), m_bus(bus), m_faults(faults), m_state(state) {}

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
    const BusFault* fault = m_faults->countRequest(request.function);
    BusTelegram answer;
    if (!m_bus->handle(request, &answer) || m_muted) {
        return;
    }
    Reply reply;
    reply.delayMs = m_options.busDelayMs;
    if (fault == nullptr) {
        reply.bytes = BusFrame::wrap(answer.encode());
    } else if (!applyFault(*fault, &answer, &reply)) {
        return;
    }
    replies->push_back(reply);
}

bool BusService::applyFault(const BusFault& fault, BusTelegram* answer, Reply* reply) {
    switch (fault.kind) {
    case BusFault::Kind::NoReply:
        return false;
    case BusFault::Kind::WrongSource:
        // Another module answers, with bytes of its own.
        answer->source = otherModuleAddress(answer->source);
        for (char& byte : answer->info) {
            byte = static_cast<char>(~byte);
        }
        break;
    case BusFault::Kind::Count:
        if (!answer->info.empty()) { // an answer without info bytes stays as it is
            answer->info.pop_back();
        }
        break;
    default:
        break;
    }
    std::string telegram = answer->encode();
    if (fault.kind == BusFault::Kind::BadSum) {
        spoilChecksum(&telegram);
    } else if (fault.kind == BusFault::Kind::Oversize) {
        telegram.resize(std::max(telegram.size(), kOversizeLength), '\0');
    }
    reply->bytes = BusFrame::wrap(telegram);
    switch (fault.kind) {
    case BusFault::Kind::Late:
        reply->delayMs += fault.arg;
        break;
    case BusFault::Kind::Negative:
        reply->bytes[3] = static_cast<char>(reply->bytes[3] | kNegativeBit);
        break;
    case BusFault::Kind::Close:
        reply->bytes.resize(std::min<size_t>(reply->bytes.size(), fault.arg));
        reply->closeAfterwards = true;
        m_muted = true;
        break;
    default:
        break;
    }
    return true;
}

} // namespace sim
