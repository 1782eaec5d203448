// Loads a backup file the way a restore does before it touches any device:
// its check of the file, then every value a restore reads, each into a
// buffer of exactly the size the restore would give it. Reading must
// neither change the file nor leave anything beside it.
#include "FuzzCheck.h"
#include "backup/Backup.h"
#include "base/Logger.h"
#include "bus/MelkoNetwork.h"
#include "bus/MelkoProtocol.h"
#include "bus/MelkoTele.h"
#include "controller/DataNetwork.h"
#include "controller/DataProtocol.h"
#include "store/FileManager.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

[[noreturn]] void fail(const char* what) {
    fuzzcheck::fail("backup file", what);
}

// A private folder holding nothing but the input file.
const std::string& folder() {
    static const std::string path = [] {
        char pattern[] = "/tmp/fuzz_backup_file.XXXXXX";
        if (mkdtemp(pattern) == nullptr) {
            fail("mkdtemp");
        }
        return std::string(pattern);
    }();
    return path;
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

void readEveryKey(CFileManager* files) {
    for (const std::string& key : allKeys()) {
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
}

// What a restore reads once its check passed: each module's keys, then each
// data set in a block of its announced size.
void readLikeRestore(CFileManager* files) {
    try {
        CBackup().checkRestoreFile(false, 0);
    } catch (int code) {
        if (code != 7) {
            fail("the check of a file ended with another status than 7");
        }
        return;
    }
    CMelkoProtocol modules;
    modules.initialize();
    unsigned char master = 0;
    modules.readMasterAddrFromFile(&master);
    std::vector<char> templates(CMelkoTele::INFO_CAPACITY, 0);
    for (int number = 1; number <= CMelkoProtocol::FPM_COUNT; ++number) {
        if (!files->hasKey(CMelkoProtocol::fpmKey(number, "DataLength"))) {
            continue;
        }
        if (modules.readTemplatesFromFile(static_cast<char>(number), templates.data()) >
            CMelkoProtocol::TEMPLATE_SIZE) {
            fail("more template bytes than a template area holds");
        }
        std::unique_ptr<char[]> cfg(new char[CMelkoProtocol::CFG_SIZE]);
        std::unique_ptr<char[]> crc(new char[CMelkoProtocol::CRC_SIZE]);
        modules.readFPMCfgFromFile(static_cast<char>(number), cfg.get());
        modules.readFPMCrcFromFile(static_cast<char>(number), crc.get());
    }
    CDataProtocol controller;
    controller.initialize();
    controller.checkVersion(CDataProtocol::OLDEST_FILE_VERSION);
    for (int dataId = 0; dataId < CDataProtocol::DATA_SET_COUNT; ++dataId) {
        const unsigned long size = controller.readDataSizeFromFile(dataId);
        std::unique_ptr<char[]> block(new char[size]);
        if (controller.readDataFromFile(dataId, block.get()) != size) {
            fail("a data set holds other than its announced size");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CLogger::getInstance()->setLevel(0);
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::string path = folder() + "/input.bak";
    std::ofstream(path, std::ios::binary | std::ios::trunc) << input;

    CFileManager* files = CFileManager::getInstance();
    files->setFileName(path);
    try {
        readEveryKey(files);
        readLikeRestore(files);
    } catch (int) {
        // A file that cannot be read ends a restore with its code; the
        // input file is always readable, so this is no finding by itself.
    }
    CFileManager::Destroy();
    CDataNetwork::Destroy();
    CMelkoNetwork::Destroy();

    std::ifstream in(path, std::ios::binary);
    if (std::string(std::istreambuf_iterator<char>(in), {}) != input) {
        fail("reading changed the file");
    }
    if (std::distance(std::filesystem::directory_iterator(folder()), {}) != 1) {
        fail("reading left a file beside the input");
    }
    return 0;
}
