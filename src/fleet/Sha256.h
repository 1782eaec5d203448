#pragma once

#include <string>

// The SHA-256 of a file, through OpenSSL's libcrypto.
class CSha256 {
public:
    // Lower-case hex digest of the file NAME in the folder open as folderFd,
    // opened without following a link; false when it cannot be read.
    static bool ofFile(int folderFd, const std::string& name, std::string* digest);
    // A line of sha256sum's format: the digest, two blanks, the file name.
    static std::string line(const std::string& digest, const std::string& name) {
        return digest + "  " + name + "\n";
    }
};
