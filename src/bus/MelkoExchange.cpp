#include "bus/MelkoExchange.h"

#include "base/ExitCode.h"
#include "bus/MelkoAction.h"
#include "bus/MelkoFrame.h"
#include "bus/MelkoNetwork.h"
#include "bus/MelkoParser.h"
#include "net/Timer.h"

#include <algorithm>

namespace {

const unsigned long SEND_TIMEOUT_MS = 60000;
// Telegrams to a group need no reply; this long one is waited for.
const unsigned long GROUP_REPLY_TIMEOUT_MS = 300;

bool isGroup(unsigned char address) {
    return address == CMelkoAction::ADDRESS_ALL_FPM || address == CMelkoAction::ADDRESS_ALL_DEVICES;
}

} // namespace

CMelkoExchange::ReplyRule CMelkoExchange::ruleFor(char address, unsigned char function, int minInfo,
                                                  int maxInfo) {
    return ReplyRule{static_cast<unsigned char>(address), function, minInfo, maxInfo};
}

void CMelkoExchange::failUnreachable() {
    failRun("Network unreachable.", EXIT_NETWORK_UNREACHABLE);
}

CMelkoExchange::CMelkoExchange() : m_network(nullptr), m_lateReplies(0), m_lateReplyWaitMs(0) {}

void CMelkoExchange::bind(CMelkoNetwork* network) {
    m_network = network;
}

bool CMelkoExchange::readPackage(CMelkoFrame* frame, unsigned char headerSize,
                                 unsigned long timeoutMs) {
    char request[CMelkoFrame::MAX_DATA_LENGTH];
    unsigned long length = 0;
    frame->getData(request, &length);
    const bool replyOptional = length > 1 && isGroup(static_cast<unsigned char>(request[1]));
    if (replyOptional) {
        timeoutMs = GROUP_REPLY_TIMEOUT_MS;
    }
    return receiveFrame(frame, headerSize, timeoutMs) || replyOptional;
}

bool CMelkoExchange::receiveFrame(CMelkoFrame* frame, unsigned char headerSize,
                                  unsigned long timeoutMs) {
    const int dataLength = m_network->receiveFrameHeader(frame, headerSize, timeoutMs);
    return dataLength >= 0 &&
           m_network->receiveFrameData(frame, static_cast<unsigned long>(dataLength));
}

bool CMelkoExchange::awaitReply(const ReplyRule& rule, unsigned long timeoutMs, CMelkoTele* reply,
                                bool owed) {
    CTimer deadline;
    deadline.startTimeoutTimer(timeoutMs);
    CMelkoParser parser;
    CMelkoFrame frame;
    for (unsigned long left = timeoutMs; left > 0; left = deadline.getRemainingMillis()) {
        if (!receiveFrame(&frame, CMelkoFrame::HEADER_SIZE, left)) {
            break;
        }
        const int infoSize = parser.getTele(&frame, reply);
        if (infoSize >= rule.minInfo && infoSize <= rule.maxInfo &&
            static_cast<unsigned char>(reply->getSource()) == rule.source &&
            static_cast<unsigned char>(reply->getFunction()) == rule.function) {
            return true;
        }
        // Stale: the answer to an earlier request, perhaps one still owed.
        m_lateReplies = std::max(0, m_lateReplies - 1);
    }
    // No reply can come over a lost connection: that is no silent module.
    if (m_network->isLost()) {
        failUnreachable();
    }
    if (owed) {
        noteMissingReply(timeoutMs);
    }
    return false;
}

bool CMelkoExchange::awaitAnswer(CMelkoFrame* frame, char address, unsigned char function,
                                 unsigned long timeoutMs, bool owed) {
    if (isGroup(static_cast<unsigned char>(address))) {
        return readPackage(frame, CMelkoFrame::HEADER_SIZE, timeoutMs);
    }
    return awaitReply(ruleFor(address, function), timeoutMs, &m_ignoredReply, owed);
}

bool CMelkoExchange::sendRequest(CMelkoFrame* frame, bool retry) {
    if (!retry) {
        drainLateReplies();
    }
    m_network->discardWaiting();
    return m_network->sendFrame(frame, SEND_TIMEOUT_MS);
}

bool CMelkoExchange::exchange(CMelkoFrame* frame, const ReplyRule& rule, unsigned long timeoutMs,
                              CMelkoTele* reply, bool retry) {
    sendRequest(frame, retry);
    return awaitReply(rule, timeoutMs, reply, true);
}

void CMelkoExchange::noteMissingReply(unsigned long timeoutMs) {
    ++m_lateReplies;
    m_lateReplyWaitMs = std::max(m_lateReplyWaitMs, timeoutMs);
}

void CMelkoExchange::drainLateReplies() {
    if (m_lateReplies == 0) {
        return;
    }
    CTimer deadline;
    deadline.startTimeoutTimer(m_lateReplyWaitMs);
    CMelkoFrame frame;
    for (; m_lateReplies > 0; --m_lateReplies) {
        const unsigned long left = deadline.getRemainingMillis();
        if (left == 0 || !receiveFrame(&frame, CMelkoFrame::HEADER_SIZE, left)) {
            break;
        }
    }
    m_lateReplies = 0;
    m_lateReplyWaitMs = 0;
}
