#pragma once

#include <functional>
#include <string>
#include <vector>

namespace testsupport {

// A fresh directory under $TMPDIR (or /tmp), removed with everything in it
// when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return m_path; }
    std::string file(const std::string& name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// Whole file contents as bytes; empty when the file cannot be read.
std::string readFile(const std::string& path);
// Replaces the file with the bytes; false when it cannot be written.
bool writeFile(const std::string& path, const std::string& bytes);
// Polls the condition every 10 ms until it holds (true) or the seconds pass.
bool waitUntil(const std::function<bool()>& condition, int seconds = 30);
// The names in the folder, sorted, other than "." and ".." and those given.
std::vector<std::string> namesIn(const std::string& folder, const std::vector<std::string>& except = {});

} // namespace testsupport
