#pragma once

#include "BusTelegram.h"
#include "FpModule.h"
#include "Options.h"
#include "StateDir.h"

#include <vector>

namespace sim {

// The finger print modules present on the bus and what a request telegram
// does to them. Their state lives as long as the simulator and shows in
// the state directory as fpm<n>.bin (template area), fpm<n>.cfg,
// fpm<n>.crc and fpm<n>.progmode. A restore sends hundreds of write
// telegrams per module, so the files are rewritten at the points where the
// tool looks at the result (CRC request, end of programming mode, ...)
// rather than after every write.
class ModuleBus {
public:
    ModuleBus(const Options& options, StateDir* state);

    // Writes every file of every module; false when one cannot be written.
    bool writeAllFiles();
    // Rewrites the files of the modules changed since they were last written.
    bool saveChanged();

    // Carries out the request. True, with the reply filled in, when the
    // addressed module answers; telegrams to the group or broadcast address
    // reach every module but are never answered (the answers would collide).
    bool handle(const BusTelegram& request, BusTelegram* reply);

private:
    FpModule* find(unsigned char address);
    // One module's part of a request: true when it has something to answer.
    bool serve(FpModule* module, const BusTelegram& request, BusTelegram* reply);
    bool serveRead(const FpModule& module, const BusTelegram& request, BusTelegram* reply);
    bool serveWrite(FpModule* module, const BusTelegram& request);
    void setProgMode(FpModule* module, bool on);
    bool save(FpModule* module);
    // Notes a request the module cannot make sense of; it stays unanswered.
    static bool ignore(const FpModule& module, const BusTelegram& request, const char* why);

    std::vector<FpModule> m_modules;
    StateDir* m_state;
};

} // namespace sim
