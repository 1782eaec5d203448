#pragma once

#include <stdexcept>
#include <string>
#include <sys/types.h>

// Files replaced whole: the content goes into a fresh hidden file beside
// the target (".NAME.PID.N", created exclusively, never through a link),
// is synced and renamed over the target, so that a reader or a run after a
// crash sees either the old or the new file. Failures throw StoreError.
class CAtomicFile {
public:
    struct StoreError : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    // In the folder open as folderFd; shown is the path named in a message.
    static void writeAt(int folderFd, const std::string& name, const std::string& content,
                        const std::string& shown, mode_t mode = 0600);
    // At a path outside the store (reports and metrics).
    static void write(const std::string& path, const std::string& content, mode_t mode);

    // The message "cannot WHAT PATH: reason" with errno's text.
    [[noreturn]] static void fail(const std::string& what, const std::string& path);
};
