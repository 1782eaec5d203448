#include "DataService.h"

#include "ReplyBender.h"

#include <algorithm>
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
            m_state->logEvent(kPort, Mischief{Mischief::Kind::Mute, 0, 0}.describe());
        }
    }
}

void DataService::handleRequest(const Frame& request, std::vector<Reply>* replies) {
    const Fault* fault = m_faults->countRequest(request.type);
    Reply reply;
    reply.delayMs = m_options.delayMs;
    // An error response stands for a refused request, so the request is not carried out.
    if (fault != nullptr && fault->kind == Fault::Kind::Error) {
        reply.bytes = Frame::errorResponse(static_cast<unsigned char>(fault->arg));
    } else {
        reply.bytes = answer(request);
    }
    if (fault == nullptr && m_hostile != nullptr) {
        answerHostile(request, reply.bytes, replies);
        return;
    }
    if (fault != nullptr && !applyFault(*fault, &reply)) {
        return;
    }
    if (fault != nullptr && fault->kind == Fault::Kind::Trickle) {
        // One byte at a time, each fault.arg milliseconds after the one before.
        for (size_t i = 0; i < reply.bytes.size(); ++i) {
            Reply piece;
            piece.bytes = reply.bytes.substr(i, 1);
            piece.delayMs = reply.delayMs + fault->arg * (i + 1);
            replies->push_back(piece);
        }
        return;
    }
    replies->push_back(reply);
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

bool DataService::applyFault(const Fault& fault, Reply* reply) {
    std::string& bytes = reply->bytes;
    size_t headerSize = Frame::headerSize(static_cast<unsigned char>(bytes[1]));
    switch (fault.kind) {
    case Fault::Kind::NoReply:
        return false;
    case Fault::Kind::Late:
        reply->delayMs += fault.arg;
        return true;
    case Fault::Kind::Truncate:
        bytes.resize(std::min(bytes.size(), headerSize + fault.arg));
        m_muted = true;
        return true;
    case Fault::Kind::Error:
        return true; // the error response was built in place of the answer
    case Fault::Kind::Close:
        bytes.resize(std::min<size_t>(bytes.size(), fault.arg));
        reply->closeAfterwards = true;
        m_muted = true;
        return true;
    case Fault::Kind::Garbage:
        bytes[2] = static_cast<char>(static_cast<unsigned char>(bytes[2]) + 1);
        return true;
    case Fault::Kind::Trickle:
        return true; // cut into pieces by the caller
    }
    return true;
}

void DataService::answerHostile(const Frame& request, std::string answer,
                                std::vector<Reply>* replies) {
    Mischief mischief =
        m_hostile->next(request.wire, HostilePlan::Traffic::Step, clientTimeoutMs(request.type));
    if (mischief.kind == Mischief::Kind::None) {
        replies->push_back(Reply{std::move(answer), m_options.delayMs, false});
        return;
    }
    m_state->logEvent(kPort, mischief.describe());
    if (mischief.kind == Mischief::Kind::Mute || mischief.kind == Mischief::Kind::Close) {
        m_muted = true;
    } else if (mischief.kind == Mischief::Kind::Source) {
        changeSource(&answer);
    }
    LengthField length;
    if (!Frame::isHeaderOnly(static_cast<unsigned char>(answer[1]))) {
        length = LengthField{Frame::kShortHeader, Frame::kLongHeader - Frame::kShortHeader};
    }
    for (Reply& reply : ReplyBender(m_hostile->prng()).bend(mischief, std::move(answer), length)) {
        reply.delayMs += m_options.delayMs;
        replies->push_back(std::move(reply));
    }
}

void DataService::changeSource(std::string* answer) {
    Prng* prng = m_hostile->prng();
    char& byte = (*answer)[prng->chance(500000) ? 1 : 2]; // the type or the data id
    byte = static_cast<char>(byte ^ prng->between(1, 255));
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
