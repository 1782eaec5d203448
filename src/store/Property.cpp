#include "store/Property.h"

#include "base/ExitCode.h"
#include "base/Logger.h"
#include "base/TrustedLink.h"
#include "store/Map.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const size_t kChunkSize = 64UL * 1024;

bool writeAll(int fd, const char* data, size_t size) {
    size_t done = 0;
    while (done < size) {
        ssize_t written = write(fd, data + done, size - done);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        done += static_cast<size_t>(written);
    }
    return true;
}

// Only a regular file counts: a directory or a pipe given as the backup file
// would otherwise fail late or block the run, and a link another user
// planted must not hand a root-only file to a restore.
int openRegularForReading(const std::string& path) {
    int fd = openFollowingTrustedLinks(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        return -1;
    }
    struct stat info;
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return -1;
    }
    return fd;
}

// Appends to a line that can be no longer than bound bytes (the rest of the
// file from the line's start): growing up to the bound instead of doubling
// past it keeps a data set's line from costing twice its size.
void appendBounded(std::string* line, const char* begin, const char* end, size_t bound) {
    size_t needed = line->size() + static_cast<size_t>(end - begin);
    if (needed > line->capacity()) {
        size_t target = std::max(needed, 2 * line->capacity());
        if (needed <= bound) {
            target = std::min(target, bound);
        }
        line->reserve(target);
    }
    line->append(begin, end);
}

} // namespace

CProperty::CProperty(const std::string& fileName)
    : m_map(new CMyMap()), m_fileName(fileName), m_writeFileName(fileName), m_writeDescriptor(-1),
      m_writeFailureReported(false), m_changed(false), m_loaded(false) {}

CProperty::~CProperty() {
    try {
        store();
    } catch (int) {
        // writeFile has logged why; an error code must not leave a destructor.
    } catch (const std::bad_alloc&) {
        logMemoryError();
    }
    delete m_map;
}

void CProperty::setProperty(std::string key, std::string value) {
    m_map->add(std::move(key), std::move(value));
    m_changed = true;
}

bool CProperty::getProperty(const std::string& key, std::string* value) {
    if (!m_loaded && isEmpty()) {
        readFile();
    }
    return m_map->getValueByKey(key, value);
}

const std::string* CProperty::findProperty(const std::string& key) {
    if (!m_loaded && isEmpty()) {
        readFile();
    }
    return m_map->findValue(key);
}

bool CProperty::keyExists(const std::string& key) {
    if (!m_loaded && isEmpty() && !readFile()) {
        return false;
    }
    return m_map->keyExists(key);
}

bool CProperty::isEmpty() const {
    return m_map->getSize() == 0;
}

void CProperty::store() {
    if (m_changed && !isEmpty()) {
        writeFile();
    }
}

// Reads where the run writes: a backup run is redirected to its temporary
// file, which starts empty, so the old backup's entries never leak into the
// new one.
bool CProperty::readFile() {
    if (m_loaded || m_fileName.empty() || m_writeFileName.empty() || m_writeDescriptor >= 0) {
        return false;
    }
    int fd = openRegularForReading(m_writeFileName);
    if (fd < 0) {
        failOpen();
    }
    int failure = 0;
    try {
        failure = readLines(fd);
    } catch (const std::exception&) {
        close(fd);
        m_map->removeAll();
        throw;
    }
    close(fd);
    if (failure != 0) {
        m_map->removeAll();
        if (failure == EXIT_CORRUPT_FILE) {
            failRun("Backup file is corrupt.", EXIT_CORRUPT_FILE);
        }
        failOpen();
    }
    m_loaded = true;
    return true;
}

// Returns 0, EXIT_BACKUP_FILE_UNUSABLE on a read error or EXIT_CORRUPT_FILE
// for a file above MAX_FILE_SIZE (also one that grows past it while read).
int CProperty::readLines(int fd) {
    struct stat info;
    if (fstat(fd, &info) != 0) {
        return EXIT_BACKUP_FILE_UNUSABLE;
    }
    if (info.st_size > MAX_FILE_SIZE) {
        return EXIT_CORRUPT_FILE;
    }
    const long long fileSize = info.st_size;
    std::vector<char> chunk(kChunkSize);
    std::string line;
    long long offset = 0;    // of the chunk's first byte in the file
    long long lineStart = 0; // of the line's first byte in the file
    for (;;) {
        ssize_t got = read(fd, chunk.data(), chunk.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return EXIT_BACKUP_FILE_UNUSABLE;
        }
        if (got == 0) {
            break;
        }
        if (offset + got > MAX_FILE_SIZE) {
            return EXIT_CORRUPT_FILE;
        }
        const char* start = chunk.data();
        const char* end = start + got;
        while (start < end) {
            const char* lineFeed = static_cast<const char*>(memchr(start, '\n', end - start));
            const char* stop = lineFeed == nullptr ? end : lineFeed;
            appendBounded(&line, start, stop,
                          static_cast<size_t>(std::max(0LL, fileSize - lineStart)));
            if (lineFeed == nullptr) {
                break;
            }
            addLine(std::move(line));
            line = std::string();
            lineStart = offset + (lineFeed + 1 - chunk.data());
            start = lineFeed + 1;
        }
        offset += got;
    }
    addLine(std::move(line));
    return 0;
}

void CProperty::writeFile() {
    if (m_fileName.empty()) {
        return;
    }
    if (m_writeDescriptor >= 0) {
        if (!writeAllLines(m_writeDescriptor, true)) {
            // A full disk fails every later store as well: say it once.
            if (m_writeFailureReported) {
                throw static_cast<int>(EXIT_BACKUP_FILE_UNUSABLE);
            }
            m_writeFailureReported = true;
            failOpen();
        }
        m_changed = false;
        return;
    }
    if (m_writeFileName.empty()) {
        return;
    }
    int fd = openFollowingTrustedLinks(m_writeFileName, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC,
                                       0600);
    if (fd < 0) {
        failOpen();
    }
    bool written = false;
    try {
        written = writeAllLines(fd, false);
    } catch (const std::exception&) {
        close(fd);
        throw;
    }
    // A full disk may only show at close; a short file must not pass.
    if (close(fd) != 0 || !written) {
        failOpen();
    }
    m_changed = false;
}

bool CProperty::writeAllLines(int descriptor, bool replaceFromStart) {
    if (replaceFromStart && lseek(descriptor, 0, SEEK_SET) != 0) {
        return false;
    }
    std::vector<std::string> keys;
    m_map->getAllKeys(&keys);
    std::string text;
    off_t total = 0;
    auto flush = [&]() {
        total += static_cast<off_t>(text.size());
        bool written = writeAll(descriptor, text.data(), text.size());
        text.clear();
        return written;
    };
    for (const std::string& key : keys) {
        const std::string& value = *m_map->findValue(key);
        text.append(key).append(1, '=');
        // A large value goes out from the map itself, never copied.
        if (value.size() >= kChunkSize) {
            if (!flush() || !writeAll(descriptor, value.data(), value.size())) {
                return false;
            }
            total += static_cast<off_t>(value.size());
        } else {
            text.append(value);
        }
        text.append(1, '\n');
        if (text.size() >= kChunkSize && !flush()) {
            return false;
        }
    }
    if (!keys.empty()) {
        text.append(1, '\n');
    }
    if (!flush()) {
        return false;
    }
    // An earlier, longer store must not leave its tail behind.
    return !replaceFromStart || ftruncate(descriptor, total) == 0;
}

std::string CProperty::trim(std::string text) {
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20) {
        text.pop_back();
    }
    size_t first = 0;
    while (first < text.size() && static_cast<unsigned char>(text[first]) <= 0x20) {
        ++first;
    }
    return text.substr(first);
}

// A line is "key=value"; it is split at its first '='. Lines without a key
// or a value are skipped.
void CProperty::addLine(std::string line) {
    size_t equals = line.find('=');
    if (equals == std::string::npos || equals == 0) {
        return;
    }
    std::string key = trim(line.substr(0, equals));
    // The value is trimmed inside the line's own buffer, which the map takes.
    size_t last = line.size();
    while (last > equals + 1 && static_cast<unsigned char>(line[last - 1]) <= 0x20) {
        --last;
    }
    size_t first = equals + 1;
    while (first < last && static_cast<unsigned char>(line[first]) <= 0x20) {
        ++first;
    }
    line.erase(last);
    line.erase(0, first);
    if (key.empty() || line.empty()) {
        return;
    }
    m_map->add(std::move(key), std::move(line));
}

void CProperty::failOpen() {
    failRun("Could not open backup file.", EXIT_BACKUP_FILE_UNUSABLE);
}
