#include "base/Logger.h"

#include "base/ExitCode.h"
#include "base/Progress.h"

#include <cstdlib>

CLogger* CLogger::m_instance = nullptr;

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
    if (m_file.is_open()) {
        m_file.close();
    }
    std::cout.rdbuf(m_savedCoutBuffer);
    std::cerr.rdbuf(m_savedCerrBuffer);
}

void CLogger::setFileName(std::string name) {
    if (name.empty()) {
        return;
    }
    m_fileName = name;
    m_file.open(name, std::ios::out | std::ios::app);
    if (!m_file.is_open()) {
        std::cerr << "Could not user logfile " << name << std::endl;
        exit(EXIT_LOG_FILE_UNUSABLE);
    }
    std::cout.rdbuf(m_file.rdbuf());
    std::cerr.rdbuf(m_file.rdbuf());
}

void CLogger::log(std::string text, int level) {
    if (level > m_level) {
        return;
    }
    CProgress::clear();
    if (level == 1) {
        std::cerr << text << std::endl;
    } else {
        std::cout << text << std::endl;
    }
}
