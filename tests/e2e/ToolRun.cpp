#include "e2e/ToolRun.h"

#include "support/Process.h"
#include "support/TempDir.h"

#include <cstdio>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

namespace e2e {

std::vector<std::string> compressedTime(int speedup) {
    // A sanitizer build of the tool must accept the preloaded library ahead
    // of its runtime.
    return {std::string("LD_PRELOAD=") + TURSA_FAKETIME_LIB, "FAKETIME=+0 x" + std::to_string(speedup),
            "FAKETIME_NO_CACHE=1", "ASAN_OPTIONS=verify_asan_link_order=0"};
}

ToolResult runProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      const std::string& stem, int timeoutMs) {
    testsupport::Process program;
    program.start(argv, env, stem + ".out", stem + ".err");
    auto status = program.waitExit(timeoutMs);
    EXPECT_TRUE(status.has_value()) << argv[0] << " did not end within " << timeoutMs << " ms";
    return {status.value_or(-1), testsupport::readFile(stem + ".out"),
            testsupport::readFile(stem + ".err")};
}

ToolResult runTool(const std::vector<std::string>& args, const std::string& workDir,
                   bool compressTime, int timeoutMs, int speedup) {
    static int runCount = 0;
    std::vector<std::string> argv{TURSA_TOOL_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    return runProgram(argv, compressTime ? compressedTime(speedup) : std::vector<std::string>{},
                      workDir + "/tool-" + std::to_string(++runCount), timeoutMs);
}

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line)) {
        lines.push_back(line);
    }
    return lines;
}

std::string base64(const std::string& bytes) {
    testsupport::TempDir scratch;
    testsupport::writeFile(scratch.file("in"), bytes);
    return shellOutput("base64 -w0 < '" + scratch.file("in") + "'");
}

std::string hexOf(const std::string& bytes, const std::string& separator) {
    std::string text;
    for (unsigned char byte : bytes) {
        text += (text.empty() ? "" : separator) + "0123456789abcdef"[byte >> 4];
        text += "0123456789abcdef"[byte & 0xF];
    }
    return text;
}

std::string shellOutput(const std::string& command) {
    std::string text;
    FILE* pipe = popen(command.c_str(), "r");
    char chunk[4096];
    for (size_t count; pipe != nullptr && (count = fread(chunk, 1, sizeof chunk, pipe)) > 0;) {
        text.append(chunk, count);
    }
    if (pipe != nullptr) {
        pclose(pipe);
    }
    return text;
}

bool exists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

} // namespace e2e
