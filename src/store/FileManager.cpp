#include "store/FileManager.h"

#include "base/ExitCode.h"
#include "base/Logger.h"
#include "base/TrustedLink.h"
#include "store/Base64.h"
#include "store/Property.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

const char* const kOpenError = "Could not open backup file.";

// The largest block whose Base64 text and terminator still fit the codec's
// 32-bit sizes.
const unsigned long kMaxBlockLength = (UINT_MAX - 1UL) / 4 * 3;

std::string directoryOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string baseNameOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A name in the path's folder made of prefix, the path's base name and
// suffix; the base name is shortened so that a target whose name is as long
// as the file system allows still gets its temporary and partial files.
std::string siblingOf(const std::string& path, const std::string& prefix,
                      const std::string& suffix) {
    std::string base = baseNameOf(path);
    const size_t room = NAME_MAX - prefix.size() - suffix.size();
    if (base.size() > room) {
        base.resize(room);
    }
    return directoryOf(path) + "/" + prefix + base + suffix;
}

// A symbolic link as target (one that mayFollowLinks allows) is followed, so
// that the file it names is the one replaced, as writing through the link
// would.
std::string finalPathOf(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
        return path;
    }
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        return path;
    }
    std::string result(resolved);
    free(resolved);
    return result;
}

// Only an absent target or a writable regular file may be replaced: renaming
// over a device or a directory must never happen.
bool mayReplace(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0) {
        return errno == ENOENT;
    }
    return S_ISREG(info.st_mode) && access(path.c_str(), W_OK) == 0;
}

bool syncPath(const std::string& path, int flags) {
    int fd = open(path.c_str(), flags | O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool synced = fsync(fd) == 0;
    return close(fd) == 0 && synced;
}

} // namespace

CFileManager* CFileManager::m_instance = nullptr;

CFileManager* CFileManager::getInstance() {
    if (m_instance == nullptr) {
        m_instance = new CFileManager();
    }
    return m_instance;
}

void CFileManager::Destroy() {
    delete m_instance;
    m_instance = nullptr;
}

CFileManager::CFileManager() : m_property(nullptr), m_pendingDescriptor(-1) {}

CFileManager::~CFileManager() {
    try {
        finishBackup(false);
    } catch (const std::bad_alloc&) {
        logMemoryError();
    }
    // Stores changes made after the run ended; logs and swallows failures.
    delete m_property;
}

void CFileManager::setFileName(const std::string& fileName) {
    CProperty* property = new CProperty(fileName);
    delete m_property;
    m_property = property;
    redirectToPending();
}

std::string CFileManager::getFileName() const {
    return m_property == nullptr ? std::string() : m_property->getFileName();
}

bool CFileManager::fileExists(const std::string& path) {
    int fd = openFollowingTrustedLinks(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return false;
    }
    struct stat info;
    bool regular = fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    close(fd);
    return regular;
}

// Proves that the backup can be written without touching the target: the
// run's temporary file is created now, beside the file it will replace.
bool CFileManager::pathExists(std::string path) {
    if (!m_pendingPath.empty()) {
        if (path == m_targetPath) {
            return true;
        }
        finishBackup(false);
    }
    if (path.empty() || path.back() == '/') {
        return false;
    }
    // Checked on the name given, before the link is resolved to write
    // beside the file it names.
    if (!mayFollowLinks(path)) {
        return false;
    }
    std::string finalPath = finalPathOf(path);
    if (!mayReplace(finalPath)) {
        return false;
    }
    std::string pattern;
    int fd = createTemporaryBeside(finalPath, &pattern);
    if (fd < 0) {
        return false;
    }
    m_targetPath = path;
    m_finalPath = finalPath;
    m_pendingPath = pattern;
    m_pendingDescriptor = fd;
    redirectToPending();
    return true;
}

bool CFileManager::hasKey(const std::string& key) {
    return m_property != nullptr && m_property->keyExists(key);
}

bool CFileManager::checkFile(const std::vector<std::string>& keys) {
    if (m_property == nullptr) {
        return false;
    }
    for (const std::string& key : keys) {
        if (!m_property->keyExists(key)) {
            return false;
        }
    }
    return true;
}

// Numbers are kept as the unsigned decimal of their 32 bits and reach the
// disk with the next block or at the end of the run.
bool CFileManager::writeData(std::string key, long value) {
    if (m_property == nullptr) {
        return false;
    }
    char text[16];
    snprintf(text, sizeof(text), "%lu",
             static_cast<unsigned long>(static_cast<std::uint32_t>(value)));
    m_property->setProperty(std::move(key), text);
    return true;
}

bool CFileManager::writeData(std::string key, const char* data, unsigned long length) {
    if (m_property == nullptr) {
        return false;
    }
    std::string text;
    try {
        if (length > kMaxBlockLength) {
            throw std::bad_alloc();
        }
        text.assign((length + 2) / 3 * 4 + 1, '\0');
    } catch (const std::bad_alloc&) {
        logMemoryError();
        throw;
    }
    CBase64 codec;
    codec.encode(data, &text[0], static_cast<unsigned int>(length),
                 static_cast<unsigned int>(text.size()), 64);
    text.pop_back(); // the encoder's terminator
    m_property->setProperty(std::move(key), std::move(text));
    try {
        m_property->store();
    } catch (int) {
        // Already logged; the entry stays in memory for the next store.
    }
    return true;
}

bool CFileManager::getData(const std::string& key, char* buffer, int maxBytes) {
    if (m_property == nullptr) {
        return false;
    }
    const std::string* text = m_property->findProperty(key);
    if (text == nullptr) {
        return false;
    }
    unsigned int textLength = text->size() > UINT_MAX ? UINT_MAX : text->size();
    CBase64 codec;
    codec.decode(text->data(), buffer, textLength,
                 maxBytes < 0 ? 0U : static_cast<unsigned int>(maxBytes));
    return true;
}

bool CFileManager::getDataSize(const std::string& key, unsigned long* size) {
    if (m_property == nullptr) {
        return false;
    }
    const std::string* text = m_property->findProperty(key);
    if (text == nullptr) {
        return false;
    }
    *size = CBase64::decodedSize(text->data(), text->size());
    return true;
}

bool CFileManager::getText(const std::string& key, std::string* text) {
    return m_property != nullptr && m_property->getProperty(key, text);
}

bool CFileManager::hasValidData(const std::string& key) {
    const std::string* text = m_property == nullptr ? nullptr : m_property->findProperty(key);
    return text != nullptr && CBase64::isValid(text->data(), text->size());
}

// Reads like strtol, saturated to the signed 32-bit range: the unsigned
// text of -1 reads back as the largest value.
int CFileManager::getDataDWord(const std::string& key) {
    if (m_property == nullptr) {
        return 0;
    }
    std::string text;
    m_property->getProperty(key, &text);
    long value = strtol(text.c_str(), nullptr, 10);
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<int>(value);
}

float CFileManager::getDataFloat(const std::string& key) {
    if (m_property == nullptr) {
        return 0.0f;
    }
    std::string text;
    m_property->getProperty(key, &text);
    return strtof(text.c_str(), nullptr);
}

// A successful run replaces the target in one rename, so the path always
// holds a complete file, old or new. A failed run leaves the target alone
// and keeps what it collected beside it as "<file>.partial".
bool CFileManager::finishBackup(bool success) {
    if (m_pendingPath.empty()) {
        return true;
    }
    const std::string temporary = m_pendingPath;
    const std::string partialPath = partialPathOf(m_targetPath);
    const std::string destination = success ? m_finalPath : partialPath;
    const bool forTarget = propertyIsForTarget();
    const int descriptor = m_pendingDescriptor;
    m_pendingPath.clear();
    m_targetPath.clear();
    m_finalPath.clear();
    m_pendingDescriptor = -1;
    bool kept = true;
    if (forTarget && !m_property->isEmpty()) {
        kept = keepPending(temporary, descriptor, destination);
    } else {
        removeIfOurs(temporary, descriptor);
    }
    if (forTarget) {
        // The run is over: nothing may write to any of its names again.
        m_property->setWriteDescriptor(-1);
        m_property->setWriteFileName("");
    }
    close(descriptor);
    if (kept && forTarget && !success && !m_property->isEmpty()) {
        CLogger::getInstance()->log("Partial backup kept in " + partialPath, 1);
    }
    return kept;
}

bool CFileManager::propertyIsForTarget() const {
    return m_property != nullptr && m_property->getFileName() == m_targetPath;
}

void CFileManager::redirectToPending() {
    if (!m_pendingPath.empty() && propertyIsForTarget()) {
        m_property->setWriteDescriptor(m_pendingDescriptor);
    }
}

// Stores the map through the temporary file's descriptor, makes it durable
// and moves it to its destination, unless another file has taken its name
// meanwhile; on failure the temporary file is removed.
bool CFileManager::keepPending(const std::string& temporary, int descriptor,
                               const std::string& destination) {
    try {
        m_property->store();
    } catch (int) {
        removeIfOurs(temporary, descriptor); // the store has logged why
        return false;
    } catch (const std::bad_alloc&) {
        removeIfOurs(temporary, descriptor);
        logMemoryError();
        return false;
    }
    if (fsync(descriptor) != 0 || !isOurs(temporary, descriptor)) {
        removeIfOurs(temporary, descriptor);
        CLogger::getInstance()->log(kOpenError, 1);
        return false;
    }
    if (rename(temporary.c_str(), destination.c_str()) != 0) {
        // A target that is a link to another file system has its temporary
        // file over there, and the partial file beside the link: the
        // partial file is written anew on its own side.
        const bool otherFileSystem = errno == EXDEV;
        removeIfOurs(temporary, descriptor);
        if (!otherFileSystem) {
            CLogger::getInstance()->log(kOpenError, 1);
            return false;
        }
        if (!storeBeside(destination)) {
            return false;
        }
    }
    // Makes the rename itself durable; the file is in place either way.
    syncPath(directoryOf(destination), O_DIRECTORY);
    return true;
}

// Writes the whole map into a fresh temporary file beside the destination
// and renames it there; on failure nothing is left behind and one error
// line says so.
bool CFileManager::storeBeside(const std::string& destination) {
    std::string temporary;
    int fd = createTemporaryBeside(destination, &temporary);
    if (fd < 0) {
        CLogger::getInstance()->log(kOpenError, 1);
        return false;
    }
    m_property->setWriteDescriptor(fd);
    bool written = true;
    try {
        m_property->writeFile();
    } catch (int) {
        written = false; // the store has logged why
    } catch (const std::bad_alloc&) {
        logMemoryError();
        written = false;
    }
    m_property->setWriteDescriptor(-1);
    const bool stored = written && fsync(fd) == 0 && isOurs(temporary, fd) &&
                        rename(temporary.c_str(), destination.c_str()) == 0;
    if (!stored) {
        removeIfOurs(temporary, fd);
        if (written) {
            CLogger::getInstance()->log(kOpenError, 1);
        }
    }
    close(fd);
    return stored;
}

// Created exclusively with mode 0600, and from then on written only through
// the descriptor, never opened by name again.
int CFileManager::createTemporaryBeside(const std::string& path, std::string* name) {
    *name = siblingOf(path, ".", ".XXXXXX");
    return mkostemp(&(*name)[0], O_CLOEXEC);
}

std::string CFileManager::partialPathOf(const std::string& target) {
    return siblingOf(target, "", ".partial");
}

// True while the name still stands for the file behind the descriptor and
// not for something another user put in its place.
bool CFileManager::isOurs(const std::string& path, int descriptor) {
    struct stat named;
    struct stat opened;
    return lstat(path.c_str(), &named) == 0 && fstat(descriptor, &opened) == 0 &&
           S_ISREG(named.st_mode) && named.st_dev == opened.st_dev && named.st_ino == opened.st_ino;
}

void CFileManager::removeIfOurs(const std::string& path, int descriptor) {
    if (isOurs(path, descriptor)) {
        unlink(path.c_str());
    }
}
