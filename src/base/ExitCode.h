#pragma once

#include <string>

// The statuses the tool ends with. Every failure below the entry point is
// thrown as one of these codes (a plain int) after its message was logged.
enum ExitCode : int {
    EXIT_OK = 0,
    EXIT_NO_CONNECTION = 1,
    EXIT_UNKNOWN_VERSION = 2,
    EXIT_WRONG_PASSWORD = 3,
    EXIT_CORRUPT_FILE = 7,
    EXIT_RESTORE_REFUSED = 8,
    EXIT_WRONG_CRC = 9,
    // A module's CRC after its backup is not the one it reported before:
    // the module changed while it was read.
    EXIT_FPM_CHANGED = 10,
    EXIT_NETWORK_UNREACHABLE = 11,
    EXIT_INCOMPATIBLE_VERSION = 12,
    // A restore found modules of the file that are not on the bus; it wrote
    // the others and leaves these alone.
    EXIT_FPM_NOT_RESTORED = 13,
    EXIT_COMMUNICATION_ERROR = 14,
    EXIT_NO_FPM = 15,
    EXIT_LOG_FILE_UNUSABLE = 16,
    EXIT_UNKNOWN_SOURCE_FPM = 17,
    EXIT_DESTINATION_FPM_NOT_FOUND = 18,
    EXIT_BACKUP_FILE_UNUSABLE = 19,
    EXIT_OUT_OF_MEMORY = 20,
    EXIT_COMMAND_LINE_REJECTED = 255,
};

// Logs the message as an error (level 1) and ends the run with the code.
[[noreturn]] void failRun(const std::string& message, ExitCode code);

// Logs "Memory error" as an error, once per run however many layers see the
// same allocation failure go by.
void logMemoryError();
