#pragma once

#include "BusFrameReader.h"
#include "FaultPlan.h"
#include "HostilePlan.h"
#include "ModuleBus.h"
#include "Options.h"
#include "Service.h"
#include "StateDir.h"

namespace sim {

// The controller's gateway to the device bus on port 11575: every frame
// carries one telegram, which goes onto the bus; a module's answer comes
// back in a frame of its own.
class BusService : public Service {
public:
    static const uint16_t kPort = 11575;

    // hostile is null unless the simulator plays a hostile peer.
    BusService(const Options& options, ModuleBus* bus, FaultPlan* faults, HostilePlan* hostile,
               StateDir* state);

    uint16_t port() const override { return kPort; }
    void connectionOpened() override;
    void connectionClosed() override;
    bool bytesReceived(const char* bytes, size_t length, std::vector<Reply>* replies) override;

private:
    void handleFrame(const BusFrame& frame, std::vector<Reply>* replies);

    // The hostile peer's mischief for the reply to the request (wire: as
    // received) and the reply frame it bends: the answer (null: no module
    // answers) or one made up.
    Mischief drawMischief(const std::string& wire, const BusTelegram& request,
                          BusTelegram* answer, std::string* bytes);
    // What the hostile peer sends where no module answers: a made-up reply
    // from the addressed module (or any), random bytes, or nothing.
    std::string madeUpAnswer(const BusTelegram& request, Mischief* mischief);

    const Options& m_options;
    ModuleBus* m_bus;
    FaultPlan* m_faults;
    HostilePlan* m_hostile;
    StateDir* m_state;
    BusFrameReader m_reader;
    bool m_muted = false; // after a cut-off reply nothing more is answered on this connection
};

} // namespace sim
