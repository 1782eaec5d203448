#pragma once

#include <string>
#include <vector>

namespace e2e {

struct ToolResult {
    int status;
    std::string out;
    std::string err;
};

// Environment entries that run the unmodified tool this many times faster
// under libfaketime. Tests whose outcome hangs on a reply arriving within a
// time-out use a smaller factor, so that a loaded machine cannot turn a
// prompt reply into a missing one.
std::vector<std::string> compressedTime(int speedup = 20);

// Runs the program (argv[0]) with the environment entries added and waits
// for its end, at most timeoutMs; stdout and stderr go through STEM.out and
// STEM.err.
ToolResult runProgram(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                      const std::string& stem, int timeoutMs = 120000);

// Runs the real tool binary with the given arguments (working directory
// inherited) and waits for its end; stdout and stderr are captured through
// files in workDir.
ToolResult runTool(const std::vector<std::string>& args, const std::string& workDir,
                   bool compressTime = true, int timeoutMs = 120000, int speedup = 20);

std::vector<std::string> splitLines(const std::string& text);

// Base64 of the bytes by coreutils, an encoder independent of the tool's.
std::string base64(const std::string& bytes);

// The bytes in lower-case hex, the separator between bytes.
std::string hexOf(const std::string& bytes, const std::string& separator = "");

// What the shell command writes on its standard output.
std::string shellOutput(const std::string& command);

bool exists(const std::string& path);

} // namespace e2e
