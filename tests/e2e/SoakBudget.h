#pragma once

#include <string>

namespace e2e {

// The longest a run of the tool may take against the hostile simulator,
// worked out from the tool's fixed pauses and time-outs and from what the
// simulator's events.log shows of the run so far:
//   - the connect time-outs (20 s controller, 90 s bus) and the 70 s and
//     5 s pauses before the first telegram, once;
//   - 2 s after each controller connection; the pause next to a telegram
//     (0.5 s after each programming-mode telegram, 2 s before a
//     configuration or CRC request, 20 s after a clean), and 0.7 s before
//     a block write is repeated after a bad reply;
//   - one full wait (120 s, for the close acknowledgement 1 s) for each
//     request the simulator left unanswered, and for each controller
//     request after a bent reply on the same connection, whose leftover
//     bytes the tool may take for the next reply (on the bus the tool
//     drops them before each request);
//   - for each reply the simulator bent, its time-out and however late the
//     simulator sent its last byte (on the real clock), and where the
//     reply's header may promise more than follows (damaged, wrong length,
//     cut short, random bytes) the 60 s a data block may take; a trickled
//     reply may cost all that once per piece;
//   - for the latest request, a full wait, a data block and the longest
//     pause (20 s), as the run may be in them now.
// Tool time counts 1/speedup on the real clock; on top come 10 s and 3 ms
// per request for starting the programs and for the exchanges themselves.
class SoakBudget {
public:
    SoakBudget(std::string eventsLog, int speedup) : m_path(std::move(eventsLog)), m_speedup(speedup) {}

    // Takes in the lines the log gained since the last call.
    void update();

    // Real milliseconds the run may have taken so far.
    long boundMs() const;

    // What the run was doing last before its closing telegrams, e.g.
    // "bus read block" or "controller login"; "start" before any request.
    const std::string& phase() const { return m_phase; }

private:
    void take(const std::string& line);
    void takeFrame(int port, const std::string& hex);
    void takeBusTelegram(const std::string& frame);
    void takeHostile(int port, const std::string& kind, long lastByteMs);

    std::string m_path;
    int m_speedup;
    size_t m_offset = 0;
    std::string m_unfinished; // a line the simulator is still writing
    long m_toolMs = 0;        // pauses and waits on the tool's clock
    long m_realMs = 0;        // how late the simulator sent bent replies
    long m_requests = 0;
    long m_lastTimeoutMs = 0;    // of the latest request
    long m_lastRetryPauseMs = 0; // before the latest request is repeated
    // Bytes of a bent reply may still be read as the reply to a later request.
    bool m_controllerOutOfStep = false;
    std::string m_phase = "start";
};

} // namespace e2e
