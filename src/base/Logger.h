#pragma once

#include <ext/stdio_filebuf.h>
#include <iostream>
#include <memory>
#include <string>

// The one channel through which the tool reports. Level 1 lines are errors and
// go to the error stream, higher levels to standard output; with a log file
// both streams are redirected into it.
class CLogger {
public:
    static CLogger* getInstance();
    static void Destroy();

    virtual ~CLogger();
    // The one instance; it puts the standard streams' buffers back once.
    CLogger(const CLogger&) = delete;
    CLogger& operator=(const CLogger&) = delete;

    void setLevel(int level) { m_level = level; }
    int getLevel() const { return m_level; }

    // Opens the log file for appending and redirects both standard streams
    // into it. A file that cannot be used is named on the error stream (at
    // any level) and EXIT_LOG_FILE_UNUSABLE (16) is thrown.
    void setFileName(const std::string& name);
    std::string getFileName() const { return m_fileName; }

    void log(const std::string& text, int level);

private:
    CLogger();

    static CLogger* m_instance;

    int m_level;
    std::string m_fileName;
    std::streambuf* m_savedCoutBuffer;
    std::streambuf* m_savedCerrBuffer;
    // Writes through the descriptor that was checked, so the file cannot be
    // swapped for another between the check and the first line.
    std::unique_ptr<__gnu_cxx::stdio_filebuf<char>> m_file;
};
