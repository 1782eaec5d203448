#pragma once

#include "app/ArgumentArea.h"

#include <getopt.h>
#include <string>

// Reads the tool's twelve options and decides whether they form a runnable
// command line.
class CCommandLine {
public:
    CCommandLine();
    virtual ~CCommandLine() = default;

    // Fills the fields from the arguments. A non-numerical module address or
    // verbosity, an invalid IP address or an unreadable password file is
    // logged and thrown as EXIT_COMMAND_LINE_REJECTED (255). The password is
    // taken out of the argument area so the process list shows neither it
    // nor its length; without --password it is read from the file that
    // TURSA_PASSWORD_FILE names.
    void parse(int argc, char** argv);
    // False for a command line that cannot run: an unknown option, an
    // option without its argument, a word that is no option, or a task
    // without its file, address or password.
    bool checkParameter();

    bool isBackup() const { return m_isBackup; }
    bool isRestore() const { return m_isRestore; }
    bool isFPMOnly() const { return m_isFPMOnly; }
    bool isHelp() const { return m_isHelp; }
    bool isVersion() const { return m_isVersion; }
    int getFPMFrom() const { return m_fpmFrom; }
    int getFPMTo() const { return m_fpmTo; }
    int getLogLevel() const { return m_logLevel; }
    std::string getFileName() const { return m_fileName; }
    std::string getIpAddress() const { return m_ipAddress; }
    std::string getPassword() const { return m_password; }
    std::string getLogfile() const { return m_logfile; }

private:
    static const struct option m_long_options[];

    int numericalArgument(const char* argument, const char* message);
    bool isAddressInRange(int address) const { return address >= 0 && address <= 8; }

    std::string m_fileName;
    std::string m_ipAddress;
    std::string m_password;
    std::string m_logfile;
    // Where the arguments lie, so that the password can be taken out.
    CArgumentArea m_argumentArea;
    bool m_isBackup;
    bool m_isRestore;
    bool m_isFPMOnly;
    bool m_isHelp;
    bool m_isVersion;
    bool m_isMistyped;
    int m_fpmFrom;
    int m_fpmTo;
    int m_logLevel;
};
