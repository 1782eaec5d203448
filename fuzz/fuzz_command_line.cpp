// The command line: the input split at NUL bytes is the argument list.
//
// CCommandLine::parse ends the process with exit(255) on a rejected
// argument. The target is linked with -Wl,--wrap=exit, so every call to
// exit reaches __wrap_exit: while parse runs, it records the status and
// longjmps back to the target; at any other time (libFuzzer's own exits)
// it calls the real exit. The frames it leaves hold no resources: the
// rejected call logs its message before calling exit, and the locals of
// parse and its helpers are stateless string checkers. Unlike running each
// input in a child process, this keeps the coverage in the fuzzer's process
// and costs nothing per input.
#include "FuzzCheck.h"
#include "app/CommandLine.h"
#include "base/Logger.h"

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <getopt.h>
#include <string>
#include <vector>

extern "C" [[noreturn]] void __real_exit(int status);
extern "C" [[noreturn]] void __wrap_exit(int status);

namespace {

jmp_buf g_exitJump;
volatile bool g_insideParse = false;
volatile int g_exitStatus = 0;

[[noreturn]] void fail(const char* what) {
    fuzzcheck::fail("command line", what);
}

// False when parse called exit; the status is then in g_exitStatus.
bool parseCatchingExit(CCommandLine* commandLine, int argc, char** argv) {
    if (setjmp(g_exitJump) != 0) {
        g_insideParse = false;
        return false;
    }
    g_insideParse = true;
    optind = 0; // getopt_long keeps its position between calls
    commandLine->parse(argc, argv);
    g_insideParse = false;
    return true;
}

} // namespace

extern "C" void __wrap_exit(int status) {
    if (g_insideParse) {
        g_exitStatus = status;
        longjmp(g_exitJump, 1);
    }
    __real_exit(status);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CLogger::getInstance()->setLevel(0);
    opterr = 0; // no getopt messages for unknown options

    std::vector<std::string> arguments{"TursaBackupCmd"};
    std::string current;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            arguments.push_back(current);
            current.clear();
        } else {
            current.push_back(static_cast<char>(data[i]));
        }
    }
    if (!current.empty()) {
        arguments.push_back(current);
    }
    // Each argument in its own heap block, so that a read past one shows.
    std::vector<char*> argv;
    for (const std::string& argument : arguments) {
        char* copy = new char[argument.size() + 1];
        argument.copy(copy, argument.size());
        copy[argument.size()] = '\0';
        argv.push_back(copy);
    }
    std::vector<char*> owned = argv; // parse permutes argv
    argv.push_back(nullptr);

    CCommandLine commandLine;
    if (!parseCatchingExit(&commandLine, static_cast<int>(arguments.size()), argv.data())) {
        if (g_exitStatus != 255) {
            fail("a rejected argument ended with a status other than 255");
        }
    } else if (commandLine.checkParameter()) {
        if (commandLine.getLogLevel() > 4) {
            fail("checkParameter passed a verbosity above 4");
        }
        const bool incomplete = commandLine.getFileName().empty() ||
                                commandLine.getIpAddress().empty() ||
                                commandLine.getPassword().empty();
        if ((commandLine.isBackup() || commandLine.isRestore()) && incomplete) {
            fail("checkParameter passed a run without file, address or password");
        }
        if (commandLine.isBackup() && commandLine.isRestore()) {
            fail("checkParameter passed backup and restore at once");
        }
        const auto outside = [](int number) { return number < 0 || number > 8; };
        if ((commandLine.isBackup() && outside(commandLine.getFPMFrom())) ||
            (commandLine.isRestore() &&
             (outside(commandLine.getFPMFrom()) || outside(commandLine.getFPMTo())))) {
            fail("checkParameter passed a module number outside 0..8");
        }
    }
    for (char* copy : owned) {
        delete[] copy;
    }
    return 0;
}
