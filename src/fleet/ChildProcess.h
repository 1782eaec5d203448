#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// Starts a program as a child of tursa-fleet: in a process group of its
// own (a signal for the fleet reaches it only as the fleet passes it on, and
// a kill of the group ends what it started too), with SIGTERM when
// tursa-fleet dies, and signals unblocked.
class CChildProcess {
public:
    struct Spec {
        std::vector<std::string> argv; // argv[0] is the program's path
        std::vector<std::string> environment; // NAME=value, over the fleet's own
        bool usesInput = false; // input goes through a pipe on standard input
        std::string input;      // otherwise standard input is /dev/null
        int outputFd = -1;      // standard output and error; -1: the fleet's own
    };

    // The child's pid; throws std::runtime_error when it cannot be started.
    static pid_t spawn(const Spec& spec);
    // A waitpid status as an exit status; 128 + n for signal n.
    static int exitStatusOf(int waitStatus);
};
