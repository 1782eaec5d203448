#pragma once

#include "DataSets.h"
#include "FaultPlan.h"
#include "FrameReader.h"
#include "HostilePlan.h"
#include "Options.h"
#include "Service.h"
#include "StateDir.h"

namespace sim {

// The controller's data service on port 11574: interface version, password
// check, backup and restore of the four data sets, and the orderly close.
class DataService : public Service {
public:
    static const uint16_t kPort = 11574;

    // hostile is null unless the simulator plays a hostile peer.
    DataService(const Options& options, DataSets* dataSets, FaultPlan* faults,
                HostilePlan* hostile, StateDir* state);

    uint16_t port() const override { return kPort; }
    void connectionOpened() override;
    bool bytesReceived(const char* bytes, size_t length, std::vector<Reply>* replies) override;

    // Writes every data set into the state directory.
    bool dumpAllDataSets();

private:
    void handleRequest(const Frame& request, std::vector<Reply>* replies);
    std::string answer(const Frame& request);
    std::string answerBackup(const Frame& request) const;
    std::string answerRestore(const Frame& request);
    std::string answerPassword(const Frame& request) const;
    bool dumpDataSet(int id);

    // The hostile peer's mischief for the reply to the request, the
    // answer's type or data id made another where it comes from elsewhere.
    Mischief drawMischief(const Frame& request, std::string* answer);

    const Options& m_options;
    DataSets* m_dataSets;
    FaultPlan* m_faults;
    HostilePlan* m_hostile;
    StateDir* m_state;
    FrameReader m_reader;
    bool m_muted = false; // after a cut-off reply nothing more is answered on this connection
};

} // namespace sim
