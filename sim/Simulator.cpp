#include "Simulator.h"

#include "BusService.h"
#include "Clock.h"
#include "DataService.h"
#include "Server.h"
#include "StopSignal.h"

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace sim {

namespace {

int startFailure(const std::string& message) {
    std::fprintf(stderr, "tursa-sim: %s\n", message.c_str());
    return 1;
}

} // namespace

bool Simulator::prepareDataSets(DataSets* dataSets) {
    if (m_options.dataDir.empty()) {
        dataSets->generate(m_options.seed, m_options.sizes);
        return true;
    }
    std::string error;
    if (!dataSets->load(m_options.dataDir, &error)) {
        std::fprintf(stderr, "tursa-sim: %s\n", error.c_str());
        return false;
    }
    return true;
}

std::unique_ptr<HostilePlan> Simulator::hostilePlan(uint16_t port) const {
    if (!m_options.hostile) {
        return nullptr;
    }
    return std::make_unique<HostilePlan>(m_options.hostileSeed, port, m_options.clientSpeedup);
}

int Simulator::run() {
    StopSignal stopSignal;
    if (!stopSignal.install()) {
        return startFailure("cannot set up signal handling");
    }
    std::string error;
    StateDir state(m_options.stateDir);
    if (!state.open(&error)) {
        return startFailure(error);
    }
    DataSets dataSets;
    if (!prepareDataSets(&dataSets)) {
        return 1;
    }
    FaultPlan faults(m_options.faults);
    std::unique_ptr<HostilePlan> dataHostile = hostilePlan(DataService::kPort);
    DataService dataService(m_options, &dataSets, &faults, dataHostile.get(), &state);
    if (!dataService.dumpAllDataSets()) {
        return 1;
    }
    ModuleBus bus(m_options, &state);
    if (!bus.writeAllFiles()) {
        return 1;
    }
    std::unique_ptr<HostilePlan> busHostile = hostilePlan(BusService::kPort);
    BusService busService(m_options, &bus, &faults, busHostile.get(), &state);
    int64_t deadlineMs = Clock::nowMs() + static_cast<int64_t>(m_options.lifetimeSeconds) * 1000;
    Server server(stopSignal.fd(), deadlineMs, &state);
    if (!m_options.refuse && !server.listen(m_options.address, &dataService, &error)) {
        return startFailure(error);
    }
    if (!m_options.refuseBus && !server.listen(m_options.address, &busService, &error)) {
        return startFailure(error);
    }
    if (!state.writeReady(static_cast<int>(::getpid()))) {
        return startFailure("cannot write the ready file into " + m_options.stateDir);
    }
    switch (server.run()) {
    case Server::End::Stopped:
        return 0;
    case Server::End::LifetimeOver:
        std::fprintf(stderr, "tursa-sim: lifetime of %lu s is over\n", m_options.lifetimeSeconds);
        return 0;
    case Server::End::Failed:
        break;
    }
    return 1;
}

} // namespace sim
