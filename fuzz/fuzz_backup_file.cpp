// Loads a backup file the way a restore does before it touches any device:
// its check of the file, then every value a restore reads, each
// into a buffer of exactly the size the restore would give it.
#include "backup/Backup.h"
#include "base/Logger.h"
#include "bus/MelkoNetwork.h"
#include "bus/MelkoProtocol.h"
#include "bus/MelkoTele.h"
#include "controller/DataNetwork.h"
#include "controller/DataProtocol.h"
#include "store/FileManager.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

std::string g_directory;

void removeDirectory() {
    unlink((g_directory + "/input.bak").c_str());
    rmdir(g_directory.c_str());
}

// A private directory holding nothing but the input file, removed when the
// fuzzer ends normally.
const std::string& directory() {
    static const std::string path = [] {
        char pattern[] = "/tmp/fuzz_backup_file.XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            perror("mkdtemp");
            abort();
        }
        g_directory = pattern;
        atexit(removeDirectory);
        return g_directory;
    }();
    return path;
}

void writeInput(const std::string& path, const uint8_t* data, size_t size) {
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0 || (size > 0 && write(fd, data, size) != static_cast<ssize_t>(size)) ||
        close(fd) != 0) {
        perror("writing the input");
        abort();
    }
}

std::string readBack(const std::string& path) {
    std::string text;
    FILE* file = fopen(path.c_str(), "rb");
    if (file == nullptr) {
        abort();
    }
    char chunk[4096];
    size_t got;
    while ((got = fread(chunk, 1, sizeof(chunk), file)) > 0) {
        text.append(chunk, got);
    }
    fclose(file);
    return text;
}

// The names in the directory other than "." and "..".
std::vector<std::string> entries(const std::string& path) {
    std::vector<std::string> names;
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) {
        abort();
    }
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != "..") {
            names.push_back(name);
        }
    }
    closedir(dir);
    return names;
}

// Reads a Base64 value into a heap block of exactly maxBytes, so that a
// decode past the limit is an AddressSanitizer report.
void readExactly(CFileManager* files, const std::string& key, int maxBytes) {
    std::unique_ptr<char[]> block(new char[maxBytes > 0 ? maxBytes : 0]);
    files->getData(key, block.get(), maxBytes);
}

std::vector<std::string> allKeys() {
    std::vector<std::string> keys;
    CDataProtocol().createKeyList(&keys);
    keys.push_back(CMelkoProtocol::MASTER_KEY);
    for (int number = 1; number <= CMelkoProtocol::FPM_COUNT; ++number) {
        for (const char* suffix : {"DataLength", "Data", "CFG", "CRC"}) {
            keys.push_back(CMelkoProtocol::fpmKey(number, suffix));
        }
    }
    return keys;
}

void loadLikeRestore(CFileManager* files) {
    const std::vector<std::string> keys = allKeys();
    for (const std::string& key : keys) {
        files->hasKey(key);
        files->getDataDWord(key);
        files->getDataFloat(key);
        unsigned long size = 0;
        if (files->getDataSize(key, &size) && size <= 4096) {
            readExactly(files, key, static_cast<int>(size));
        }
        readExactly(files, key, 5);
        readExactly(files, key, 0);
    }
    files->checkFile(keys);

    // The module side: the check every restore starts with, then what
    // restoreAllFPM and restoreFPM read for each module in the file.
    bool modulesSound = true;
    try {
        CBackup().checkRestoreFile(true, 0);
    } catch (int code) {
        if (code != 7) {
            abort();
        }
        modulesSound = false;
    }
    CMelkoProtocol modules;
    modules.initialize();
    unsigned char master = 0;
    modules.readMasterAddrFromFile(&master);
    if (modulesSound) {
        std::vector<char> templates(CMelkoTele::INFO_CAPACITY, 0);
        for (int number = 1; number <= CMelkoProtocol::FPM_COUNT; ++number) {
            if (!files->hasKey(CMelkoProtocol::fpmKey(number, "DataLength"))) {
                continue;
            }
            unsigned long count = modules.readTemplatesFromFile(static_cast<char>(number),
                                                                templates.data());
            if (count > CMelkoProtocol::TEMPLATE_SIZE) {
                abort();
            }
            std::unique_ptr<char[]> cfg(new char[CMelkoProtocol::CFG_SIZE]);
            std::unique_ptr<char[]> crc(new char[CMelkoProtocol::CRC_SIZE]);
            modules.readFPMCfgFromFile(static_cast<char>(number), cfg.get());
            modules.readFPMCrcFromFile(static_cast<char>(number), crc.get());
        }
    }

    // The controller side: the whole file's check, then restoreAllTursaData
    // up to the first frame.
    try {
        CBackup().checkRestoreFile(false, 0);
    } catch (int code) {
        if (code != 7) {
            abort();
        }
        return;
    }
    CDataProtocol controller;
    controller.initialize();
    controller.checkVersion(CDataProtocol::OLDEST_FILE_VERSION);
    for (int dataId = 0; dataId < CDataProtocol::DATA_SET_COUNT; ++dataId) {
        unsigned long size = controller.readDataSizeFromFile(dataId);
        std::unique_ptr<char[]> block(new char[size]);
        if (controller.readDataFromFile(dataId, block.get()) != size) {
            abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CLogger::getInstance()->setLevel(0);
    const std::string path = directory() + "/input.bak";
    writeInput(path, data, size);

    CFileManager* files = CFileManager::getInstance();
    files->setFileName(path);
    try {
        loadLikeRestore(files);
    } catch (int) {
        // A file that cannot be read ends a restore with its code; the
        // input file is always readable, so this is no finding by itself.
    }
    CFileManager::Destroy();
    CDataNetwork::Destroy();
    CMelkoNetwork::Destroy();

    // Reading must neither rewrite the file nor leave anything beside it.
    const std::string after = readBack(path);
    if (after.size() != size || (size > 0 && memcmp(after.data(), data, size) != 0)) {
        fprintf(stderr, "the backup file was rewritten while it was only read\n");
        abort();
    }
    const std::vector<std::string> names = entries(directory());
    if (names.size() != 1) {
        fprintf(stderr, "a restore's reads left %zu files in the directory\n", names.size());
        abort();
    }
    return 0;
}
