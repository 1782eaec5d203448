#include "base/Logger.h"

#include "base/ExitCode.h"
#include "base/Progress.h"
#include "base/TrustedLink.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

CLogger* CLogger::m_instance = nullptr;

namespace {

// Only a regular file of the user who runs the tool takes the log: a FIFO
// would block the run until someone reads it, and another user's file must
// not be written by a tool that often runs as root, nor any file through a
// link that another user planted. A new log file is created readable by its
// owner only. Returns the open descriptor, or -1.
int openUsableLogFile(const std::string& name) {
    int fd = openFollowingTrustedLinks(name, O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC,
                                       0600);
    if (fd < 0) {
        return -1;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_uid != geteuid()) {
        close(fd);
        return -1;
    }
    return fd;
}

} // namespace

CLogger* CLogger::getInstance() {
    if (m_instance == nullptr) {
        m_instance = new CLogger();
    }
    return m_instance;
}

void CLogger::Destroy() {
    delete m_instance;
    m_instance = nullptr;
}

CLogger::CLogger()
    : m_level(1), m_savedCoutBuffer(std::cout.rdbuf()), m_savedCerrBuffer(std::cerr.rdbuf()) {}

CLogger::~CLogger() {
    std::cout.rdbuf(m_savedCoutBuffer);
    std::cerr.rdbuf(m_savedCerrBuffer);
}

void CLogger::setFileName(const std::string& name) {
    if (name.empty()) {
        return;
    }
    m_fileName = name;
    int fd = openUsableLogFile(name);
    if (fd < 0) {
        std::cerr << "Could not user logfile " << name << std::endl;
        throw static_cast<int>(EXIT_LOG_FILE_UNUSABLE);
    }
    // The buffer owns the descriptor from here on and closes it.
    m_file = std::make_unique<__gnu_cxx::stdio_filebuf<char>>(fd, std::ios::out | std::ios::app);
    std::cout.rdbuf(m_file.get());
    std::cerr.rdbuf(m_file.get());
}

void CLogger::log(const std::string& text, int level) {
    if (level > m_level) {
        return;
    }
    CProgress::clear();
    std::ostream& stream = level == 1 ? std::cerr : std::cout;
    stream << text << std::endl;
    // A line that could not be written (a closed pipe, a lost terminal, a
    // full disk) is lost alone: a stream left bad would drop every later
    // line without even trying.
    stream.clear();
}
