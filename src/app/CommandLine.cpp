#include "app/CommandLine.h"

#include "app/ArgumentArea.h"
#include "app/StringChecker.h"
#include "base/ExitCode.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

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

// Names a file holding the password, for runs whose command line must not
// carry it: its first line is the password (/dev/stdin reads a pipe).
const char* const PASSWORD_FILE_VARIABLE = "TURSA_PASSWORD_FILE";
const size_t MAX_PASSWORD_FILE_BYTES = 4096;

bool readFirstLine(const char* path, std::string* line) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    std::string text;
    char buffer[512];
    ssize_t got = 0;
    while (text.size() < MAX_PASSWORD_FILE_BYTES && text.find('\n') == std::string::npos &&
           (got = read(fd, buffer, sizeof(buffer))) != 0) {
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            close(fd);
            return false;
        }
        text.append(buffer, static_cast<size_t>(got));
    }
    close(fd);
    text.erase(std::min(text.find('\n'), text.size()));
    if (!text.empty() && text.back() == '\r') {
        text.pop_back();
    }
    *line = text;
    std::fill(text.begin(), text.end(), '\0');
    std::fill(buffer, buffer + sizeof(buffer), '\0');
    return true;
}

[[noreturn]] void rejectArgument(const char* message) {
    failRun(message, EXIT_COMMAND_LINE_REJECTED);
}

} // namespace

CCommandLine::CCommandLine()
    : m_isBackup(false), m_isRestore(false), m_isFPMOnly(false), m_isHelp(false),
      m_isVersion(false), m_isMistyped(false), m_fpmFrom(0), m_fpmTo(0), m_logLevel(1) {}

int CCommandLine::numericalArgument(const char* argument, const char* message) {
    StringChecker checker;
    if (!checker.isNumerical(argument)) {
        rejectArgument(message);
    }
    return digitsToInt(argument);
}

void CCommandLine::parse(int argc, char** argv) {
    m_argumentArea.record(argc, argv);
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
            m_argumentArea.hide(optarg, strlen(optarg));
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
            // getopt has named the unknown option or the missing argument.
            m_isMistyped = true;
            break;
        }
    }
    // A stray word is most likely a mistyped option or a lost argument.
    if (optind < argc) {
        m_isMistyped = true;
    }
    m_argumentArea.rewrite();
    const char* passwordFile = getenv(PASSWORD_FILE_VARIABLE);
    if (m_password.empty() && passwordFile != nullptr &&
        !readFirstLine(passwordFile, &m_password)) {
        rejectArgument("Could not read the password file.");
    }
}

bool CCommandLine::checkParameter() {
    if (m_isMistyped) {
        return false;
    }
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
