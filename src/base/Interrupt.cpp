#include "base/Interrupt.h"

#include "base/Logger.h"

#include <csignal>

namespace {

volatile sig_atomic_t g_signal = 0;
bool g_thrown = false;

void onSignal(int number) {
    if (g_signal != 0) {
        signal(number, SIG_DFL);
        raise(number);
        return;
    }
    g_signal = number;
}

const int SIGNAL_STATUS_BASE = 128;

bool isIgnored(int number) {
    struct sigaction current = {};
    return sigaction(number, nullptr, &current) == 0 && current.sa_handler == SIG_IGN;
}

} // namespace

void CInterrupt::install() {
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a wait must return at once to look at the signal.
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // Under nohup the run is meant to outlive its session.
    if (!isIgnored(SIGHUP)) {
        sigaction(SIGHUP, &action, nullptr);
    }
}

void CInterrupt::checkpoint() {
    if (g_signal == 0 || g_thrown) {
        return;
    }
    g_thrown = true;
    CLogger::getInstance()->log("Interrupted.", 1);
    throw SIGNAL_STATUS_BASE + static_cast<int>(g_signal);
}

bool CInterrupt::happened() {
    return g_thrown;
}
