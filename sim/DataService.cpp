#include "DataService.h"

#include "ReplyBender.h"

#include <cstdio>

namespace sim {

namespace {

enum RequestType : unsigned char {
    kBackupRequest = 0,
    kRestore = 1,
    kCloseRequest = 3,
    kVersionRequest = 7,
    kPasswordRequest = 9,
};

enum ReplyType : unsigned char {
    kBackupReply = 1,
    kResponse = 2,
    kCloseAck = 6,
    kVersionReply = 8,
    kPasswordReply = 10,
};

const unsigned char kPasswordDataId = 4;
const unsigned char kUnknownRequestError = 1;

// How long the tool waits for a reply: 1 s for the acknowledgement of a
// close request, 120 s for anything else.
unsigned long clientTimeoutMs(unsigned char requestType) {
    return requestType == kCloseRequest ? 1000 : 120000;
}

// A reply's 32-bit length behind its type and data id, where it has one.
LengthField lengthFieldOf(const std::string& reply) {
    const bool headerOnly = Frame::isHeaderOnly(static_cast<unsigned char>(reply[1]));
    return LengthField{Frame::kShortHeader, headerOnly ? 0 : Frame::kLongHeader - Frame::kShortHeader};
}

} // namespace

DataService::DataService(const Options& options, DataSets* dataSets, FaultPlan* faults,
                         HostilePlan* hostile, StateDir* state)
    : m_options(options), m_dataSets(dataSets), m_faults(faults), m_hostile(hostile),
      m_state(state), m_reader(Options::kMaxDataLength) {}

void DataService::connectionOpened() {
    m_reader.clear();
    m_muted = false;
}

bool DataService::bytesReceived(const char* bytes, size_t length, std::vector<Reply>* replies) {
    m_reader.append(bytes, length);
    Frame frame;
    for (;;) {
        FrameReader::Result result = m_reader.next(&frame);
        if (result == FrameReader::Result::NeedMore) {
            return true;
        }
        if (result == FrameReader::Result::TooLong) {
            std::fprintf(stderr,
                         "tursa-sim: frame announces %u data bytes, more than the %u accepted; "
                         "closing the connection\n",
                         m_reader.refusedLength(), Options::kMaxDataLength);
            return false;
        }
        m_state->logFrame(kPort, frame.wire);
        if (!m_muted) {
            handleRequest(frame, replies);
        } else if (m_hostile != nullptr) {
            m_state->logEvent(kPort, Mischief::of(Mischief::Kind::Mute).describe());
        }
    }
}

// A fault given for the request bends the reply; else the hostile peer,
// if played, may.
void DataService::handleRequest(const Frame& request, std::vector<Reply>* replies) {
    const Fault* fault = m_faults->countRequest(Fault::Port::Data, request.type);
    // An error response stands for a refused request, so the request is not carried out.
    std::string bytes = fault != nullptr && fault->kind == Fault::Kind::Error
                            ? Frame::errorResponse(static_cast<unsigned char>(fault->arg))
                            : answer(request);
    const LengthField field = lengthFieldOf(bytes);
    Mischief mischief;
    if (fault != nullptr) {
        m_state->logEvent(kPort, fault->describe());
        if (fault->kind == Fault::Kind::Garbage) {
            bytes[2] = static_cast<char>(static_cast<unsigned char>(bytes[2]) + 1); // the data id
        }
        mischief = fault->mischief(field);
    } else if (m_hostile != nullptr) {
        mischief = drawMischief(request, &bytes);
    }
    m_muted = mischief.mutes;
    Prng* prng = m_hostile != nullptr ? m_hostile->prng() : nullptr;
    for (Reply& reply : ReplyBender(prng).bend(mischief, std::move(bytes), field)) {
        reply.delayMs += m_options.delayMs;
        replies->push_back(std::move(reply));
    }
}

std::string DataService::answer(const Frame& request) {
    switch (request.type) {
    case kBackupRequest:
        return answerBackup(request);
    case kRestore:
        return answerRestore(request);
    case kCloseRequest:
        // The client closes the connection after this acknowledgement.
        return Frame::encode(kCloseAck, 0);
    case kVersionRequest:
        return Frame::encode(kVersionReply, m_options.interfaceVersion);
    case kPasswordRequest:
        return answerPassword(request);
    default:
        return Frame::errorResponse(kUnknownRequestError);
    }
}

std::string DataService::answerBackup(const Frame& request) const {
    if (DataSets::name(request.dataId) == nullptr) {
        return Frame::errorResponse(kUnknownRequestError);
    }
    return Frame::encode(kBackupReply, request.dataId, m_dataSets->get(request.dataId));
}

std::string DataService::answerRestore(const Frame& request) {
    if (DataSets::name(request.dataId) == nullptr) {
        return Frame::errorResponse(kUnknownRequestError);
    }
    m_dataSets->replace(request.dataId, request.data);
    dumpDataSet(request.dataId);
    if (m_options.restoreAck == Options::RestoreAck::Header) {
        return Frame::encode(kCloseAck, 0);
    }
    return Frame::encode(kResponse, 0);
}

std::string DataService::answerPassword(const Frame& request) const {
    // An empty password arrives as a one-byte placeholder; like the device,
    // the data is simply compared as the password text.
    bool accepted = request.dataId == kPasswordDataId && request.data == m_options.password;
    return Frame::encode(kPasswordReply, accepted ? 1 : 0);
}

Mischief DataService::drawMischief(const Frame& request, std::string* answer) {
    Mischief mischief =
        m_hostile->next(request.wire, HostilePlan::Traffic::Step, clientTimeoutMs(request.type));
    if (mischief.kind != Mischief::Kind::None) {
        m_state->logEvent(kPort, mischief.describe());
    }
    if (mischief.kind == Mischief::Kind::Source) {
        Prng* prng = m_hostile->prng();
        char& byte = (*answer)[prng->chance(500000) ? 1 : 2]; // the type or the data id
        byte = static_cast<char>(byte ^ prng->between(1, 255));
    }
    return mischief;
}

bool DataService::dumpDataSet(int id) {
    bool written =
        m_state->writeFile(std::string(DataSets::name(id)) + ".bin", m_dataSets->get(id));
    if (!written) {
        std::fprintf(stderr, "tursa-sim: cannot write data set %s into %s\n", DataSets::name(id),
                     m_state->path().c_str());
    }
    return written;
}

bool DataService::dumpAllDataSets() {
    bool allWritten = true;
    for (int id = 0; id < DataSets::kCount; ++id) {
        allWritten = dumpDataSet(id) && allWritten;
    }
    return allWritten;
}

} // namespace sim
