#include "app/CommandLine.h"

#include "app/StringChecker.h"
#include "base/ExitCode.h"
#include "base/Logger.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

const struct option CCommandLine::m_long_options[] = {
    {"backup", no_argument, nullptr, 'b'},
    {"restore", no_argument, nullptr, 'r'},
    {"file-name", required_argument, nullptr, 'f'},
    {"ip-address", required_argument, nullptr, 'i'},
    {"password", required_argument, nullptr, 'p'},
    {"fpm-from", required_argument, nullptr, 'm'},
    {"fpm-only", no_argument, nullptr, 'o'},
    {"fpm-to", required_argument, nullptr, 't'},
    {"verbose", required_argument, nullptr, 'v'},
    {"log-file", required_argument, nullptr, 'F'},
    {"version", no_argument, nullptr, 'V'},
    {"help", no_argument, nullptr, 'h'},
    {nullptr, 0, nullptr, 0},
};

namespace {

const char* const SHORT_OPTIONS = "brf:i:p:m:ot:v:F:Vh";

// Like atoi for a digit string, but saturating instead of overflowing.
int digitsToInt(const char* digits) {
    errno = 0;
    long value = strtol(digits, nullptr, 10);
    if (errno == ERANGE || value > INT_MAX) {
        return INT_MAX;
    }
    return static_cast<int>(value);
}

void blankArgument(char* argument) {
    memset(argument, 'x', strlen(argument));
}

[[noreturn]] void rejectArgument(const char* message) {
    CLogger::getInstance()->log(message, 1);
    exit(EXIT_COMMAND_LINE_REJECTED);
}

} // namespace

CCommandLine::CCommandLine()
    : m_isBackup(false), m_isRestore(false), m_isFPMOnly(false), m_isHelp(false),
      m_isVersion(false), m_fpmFrom(0), m_fpmTo(0), m_logLevel(1) {}

int CCommandLine::numericalArgument(const char* argument, const char* message) {
    StringChecker checker;
    if (!checker.isNumerical(argument)) {
        rejectArgument(message);
    }
    return digitsToInt(argument);
}

void CCommandLine::parse(int argc, char** argv) {
    StringChecker checker;
    int letter;
    while ((letter = getopt_long(argc, argv, SHORT_OPTIONS, m_long_options, nullptr)) != -1) {
        switch (letter) {
        case 'b':
            m_isBackup = true;
            break;
        case 'r':
            m_isRestore = true;
            break;
        case 'o':
            m_isFPMOnly = true;
            break;
        case 'V':
            m_isVersion = true;
            break;
        case 'h':
            m_isHelp = true;
            break;
        case 'f':
            m_fileName = optarg;
            break;
        case 'p':
            m_password = optarg;
            blankArgument(optarg);
            break;
        case 'F':
            m_logfile = optarg;
            break;
        case 'i':
            if (!checker.isIpAddress(optarg)) {
                rejectArgument("--ip-address is invalid.");
            }
            m_ipAddress = optarg;
            break;
        case 'm':
            m_fpmFrom = numericalArgument(optarg, "--fpm-from has to be numerical [1..8].");
            break;
        case 't':
            m_fpmTo = numericalArgument(optarg, "--fpm-to has to be numerical [1..8].");
            break;
        case 'v':
            m_logLevel = numericalArgument(optarg, "--verbose has to be numerical [1..4].");
            break;
        default:
            m_isHelp = true;
            break;
        }
    }
}

bool CCommandLine::checkParameter() {
    const bool incomplete = m_fileName.empty() || m_ipAddress.empty() || m_password.empty();
    if (m_isBackup) {
        if (m_isRestore || incomplete || !isAddressInRange(m_fpmFrom)) {
            return false;
        }
    }
    if (m_isRestore) {
        if (incomplete || !isAddressInRange(m_fpmFrom) || !isAddressInRange(m_fpmTo)) {
            return false;
        }
        if (m_fpmTo > 0 && m_fpmFrom == 0) {
            return false;
        }
    }
    if (m_logLevel > 4) {
        m_logLevel = 4;
    }
    return true;
}
