#include "store/Property.h"

#include "base/ExitCode.h"
#include "base/Logger.h"
#include "store/Map.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

const size_t kChunkSize = 64 * 1024;

bool writeAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t written = write(fd, data.data() + done, data.size() - done);
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
// would otherwise fail late or block the run.
int openRegularForReading(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
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

} // namespace

CProperty::CProperty(std::string fileName)
    : m_map(new CMyMap()), m_fileName(fileName), m_writeFileName(fileName), m_writeDescriptor(-1),
      m_writeFailureReported(false), m_changed(false) {}

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

bool CProperty::getProperty(std::string key, std::string* value) {
    if (isEmpty()) {
        readFile();
    }
    return m_map->getValueByKey(std::move(key), value);
}

bool CProperty::keyExists(std::string key) {
    if (isEmpty() && !readFile()) {
        return false;
    }
    return m_map->keyExists(std::move(key));
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
    if (m_fileName.empty() || m_writeFileName.empty() || m_writeDescriptor >= 0) {
        return false;
    }
    int fd = openRegularForReading(m_writeFileName);
    if (fd < 0) {
        failOpen();
    }
    std::vector<char> chunk(kChunkSize);
    std::string line;
    try {
        for (;;) {
            ssize_t got = read(fd, chunk.data(), chunk.size());
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                throw static_cast<int>(EXIT_BACKUP_FILE_UNUSABLE);
            }
            if (got == 0) {
                break;
            }
            const char* start = chunk.data();
            const char* end = start + got;
            while (const char* lineFeed =
                       static_cast<const char*>(memchr(start, '\n', end - start))) {
                line.append(start, lineFeed);
                addLine(line);
                line.clear();
                start = lineFeed + 1;
            }
            line.append(start, end);
        }
        addLine(line);
    } catch (int) {
        close(fd);
        m_map->removeAll();
        failOpen();
    } catch (const std::exception&) {
        close(fd);
        m_map->removeAll();
        throw;
    }
    close(fd);
    return true;
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
    int fd = open(m_writeFileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
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
    std::string value;
    off_t total = 0;
    for (const std::string& key : keys) {
        m_map->getValueByKey(key, &value);
        text.append(key).append(1, '=').append(value).append(1, '\n');
        if (text.size() >= kChunkSize) {
            if (!writeAll(descriptor, text)) {
                return false;
            }
            total += static_cast<off_t>(text.size());
            text.clear();
        }
    }
    if (!keys.empty()) {
        text.append(1, '\n');
    }
    if (!writeAll(descriptor, text)) {
        return false;
    }
    total += static_cast<off_t>(text.size());
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
void CProperty::addLine(const std::string& line) {
    size_t equals = line.find('=');
    if (equals == std::string::npos || equals == 0) {
        return;
    }
    std::string key = trim(line.substr(0, equals));
    std::string value = trim(line.substr(equals + 1));
    if (key.empty() || value.empty()) {
        return;
    }
    m_map->add(std::move(key), std::move(value));
}

void CProperty::failOpen() {
    failRun("Could not open backup file.", EXIT_BACKUP_FILE_UNUSABLE);
}
