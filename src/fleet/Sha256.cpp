#include "fleet/Sha256.h"

#include <cstdio>
#include <fcntl.h>
#include <memory>
#include <openssl/evp.h>
#include <unistd.h>

bool CSha256::ofFile(int folderFd, const std::string& name, std::string* digest) {
    const int fd = openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    bool ok = context && EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) == 1;
    char buffer[65536];
    ssize_t got = 0;
    while (ok && (got = read(fd, buffer, sizeof(buffer))) != 0) {
        ok = got > 0 && EVP_DigestUpdate(context.get(), buffer, static_cast<size_t>(got)) == 1;
    }
    close(fd);
    unsigned char hash[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    if (!ok || EVP_DigestFinal_ex(context.get(), hash, &size) != 1) {
        return false;
    }
    digest->clear();
    char hex[3];
    for (unsigned int i = 0; i < size; ++i) {
        snprintf(hex, sizeof(hex), "%02x", hash[i]);
        *digest += hex;
    }
    return true;
}
