#pragma once

#include "bus/MelkoTele.h"

class CMelkoFrame;
class CMelkoNetwork;

// One request and its reply on the bus, for every part of the module
// protocol. Replies carry no request number: a reply counts only when it
// fits the request (ReplyRule), anything else on the connection is a stale
// reply to an earlier request, and the replies a module still owes are
// waited for before the next request goes out.
class CMelkoExchange {
public:
    // What a reply must be to answer a request: from the module asked, with
    // the function code that answers the request and an info byte count in
    // range.
    struct ReplyRule {
        unsigned char source;
        unsigned char function;
        int minInfo;
        int maxInfo;
    };
    static ReplyRule ruleFor(char address, unsigned char function, int minInfo = 0,
                             int maxInfo = 0x7FFFFFFF);

    // Logs "Network unreachable." and ends the run with 11.
    [[noreturn]] static void failUnreachable();

    CMelkoExchange();
    // Holds the bookkeeping of one connection's owed replies.
    CMelkoExchange(const CMelkoExchange&) = delete;
    CMelkoExchange& operator=(const CMelkoExchange&) = delete;

    void bind(CMelkoNetwork* network);

    // Waits for the reply to the request the frame holds and puts it into
    // the frame. A telegram to 0xCF or 0xFF needs no reply: the wait is then
    // 300 ms and a missing reply counts as success.
    bool readPackage(CMelkoFrame* frame, unsigned char headerSize, unsigned long timeoutMs);
    // Sends the request the frame holds, after dropping what an earlier
    // exchange left on the connection. A new request first waits out the
    // replies still owed to earlier ones; a retry of the same request does
    // not, as any reply to it carries what it asks for.
    bool sendRequest(CMelkoFrame* frame, bool retry = false);
    // Waits up to the time-out for a reply that fits the rule, dropping
    // every stale one on the way. A missing reply that the module still
    // owes (owed) is waited for before the next request. A lost connection
    // ends the run (11).
    bool awaitReply(const ReplyRule& rule, unsigned long timeoutMs, CMelkoTele* reply, bool owed);
    // The reply of the module at the address, its content not looked at; a
    // group (0xCF, 0xFF) owes none, and readPackage waits briefly for one.
    bool awaitAnswer(CMelkoFrame* frame, char address, unsigned char function,
                     unsigned long timeoutMs, bool owed);
    // The request, then a reply that fits the rule, into reply. The reply
    // is awaited even when the send failed; a broken connection then simply
    // gives no reply.
    bool exchange(CMelkoFrame* frame, const ReplyRule& rule, unsigned long timeoutMs,
                  CMelkoTele* reply, bool retry = false);

private:
    // Reads one whole frame within the time-out.
    bool receiveFrame(CMelkoFrame* frame, unsigned char headerSize, unsigned long timeoutMs);
    // A module may still answer a request after its time-out. Such a late
    // reply would pass for the answer to the next request (the previous
    // template block stored as the next one, a configuration as a CRC):
    // before a new request the tool waits, up to the longest time-out
    // missed, for as many replies as are owed.
    void noteMissingReply(unsigned long timeoutMs);
    void drainLateReplies();

    CMelkoNetwork* m_network;
    int m_lateReplies;
    unsigned long m_lateReplyWaitMs;
    // Takes the replies whose content is not looked at, so that a block
    // write allocates nothing.
    CMelkoTele m_ignoredReply;
};
