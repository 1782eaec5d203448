// The command line: the input split at NUL bytes is the argument list.
//
// CCommandLine::parse throws 255 on a rejected argument, and only main ends
// the process: a call to exit from parse would stop the fuzzer, which
// libFuzzer reports as a crash ("fuzz target exited").
#include "FuzzCheck.h"
#include "app/CommandLine.h"
#include "base/Logger.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <getopt.h>
#include <string>
#include <vector>

namespace {

[[noreturn]] void fail(const char* what) {
    fuzzcheck::fail("command line", what);
}

// False when parse rejected an argument; its status is then in *status.
bool parseCatchingRejection(CCommandLine* commandLine, int argc, char** argv, int* status) {
    optind = 0; // getopt_long keeps its position between calls
    try {
        commandLine->parse(argc, argv);
    } catch (int code) {
        *status = code;
        return false;
    }
    return true;
}

} // namespace

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
    int status = 0;
    if (!parseCatchingRejection(&commandLine, static_cast<int>(arguments.size()), argv.data(),
                                &status)) {
        if (status != 255) {
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
