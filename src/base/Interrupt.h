#pragma once

// Turns SIGINT, SIGTERM and SIGHUP (a technician's Ctrl-C, a stopped
// service, an ssh session or terminal that went away) into a failed run that
// still cleans up: the first signal is noted, and the next wait of the tool
// ends the run with 128 + the signal number, so that the modules leave
// programming mode, the connections close in the orderly way and the earlier
// backup file stays as it was. A second signal ends the process at once.
class CInterrupt {
public:
    static void install();
    // Called where the tool waits: logs "Interrupted." and throws 128 + the
    // signal number the first time after a signal; afterwards it lets the
    // clean-up run.
    static void checkpoint();
    // True once a signal has ended the run.
    static bool happened();
};
