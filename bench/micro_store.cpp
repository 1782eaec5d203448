// The backup file: Base64 of a module's 62000-byte template area both
// ways, storing and reading such a block through the file manager, and
// loading a complete eight-module backup file the way a restore reads it.
//   build/micro_store
#include "store/Base64.h"
#include "store/FileManager.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const unsigned int TEMPLATE_SIZE = 62000;
const int FPM_COUNT = 8;
const int CFG_SIZE = 5;
const int CRC_SIZE = 5;
const char* const SET_NAMES[] = {"UserManagerConfig", "ConfigManager", "DayLightConfig",
                                 "SystemTimeConfig"};
// The simulator's default data set sizes.
const unsigned long SET_SIZES[] = {1200, 5000, 40, 16};
const long INTERFACE_VERSION = 107;

std::vector<char> randomBytes(size_t size, unsigned int seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<char> bytes(size);
    for (char& value : bytes) {
        value = static_cast<char>(byte(random));
    }
    return bytes;
}

std::string fpmKey(int number, const char* suffix) {
    return "FPM" + std::to_string(number) + "." + suffix;
}

std::string encodedText(std::vector<char> block) {
    std::string text((block.size() + 2) / 3 * 4 + 1, '\0');
    CBase64 codec;
    codec.encode(block.data(), &text[0], static_cast<unsigned int>(block.size()),
                 static_cast<unsigned int>(text.size()), 64);
    text.pop_back();
    return text;
}

// A directory under /tmp that is removed with everything in it.
class ScratchDir {
public:
    ScratchDir() {
        char pattern[] = "/tmp/tursa-micro-XXXXXX";
        if (mkdtemp(pattern) != nullptr) {
            m_path = pattern;
        }
    }
    ~ScratchDir() {
        if (!m_path.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(m_path, ignored);
        }
    }
    bool ok() const { return !m_path.empty(); }
    std::string file(const char* name) const { return m_path + "/" + name; }

private:
    std::string m_path;
};

// A fresh file manager on the file, as the tool has at its start.
CFileManager* freshManager(const std::string& path) {
    CFileManager::Destroy();
    CFileManager* manager = CFileManager::getInstance();
    manager->setFileName(path);
    return manager;
}

// Writes a backup of the controller's four data sets and eight modules
// the way a backup run does: into a temporary file beside the target, in
// the run's key order, put in place at the end.
bool writeEightModuleBackup(const std::string& path) {
    CFileManager* manager = freshManager(path);
    if (!manager->pathExists(path)) {
        return false;
    }
    manager->writeData("Global.Version", INTERFACE_VERSION);
    for (int set = 0; set < 4; ++set) {
        std::vector<char> data = randomBytes(SET_SIZES[set], 100 + set);
        manager->writeData(std::string(SET_NAMES[set]) + ".DataLength",
                           static_cast<long>(data.size()));
        manager->writeData(std::string(SET_NAMES[set]) + ".Data", data.data(), data.size());
    }
    manager->writeData("FPM0.MASTER", 0xC0);
    for (int number = 1; number <= FPM_COUNT; ++number) {
        std::vector<char> templates = randomBytes(TEMPLATE_SIZE, number);
        std::vector<char> cfg = randomBytes(CFG_SIZE, 200 + number);
        std::vector<char> crc = randomBytes(CRC_SIZE, 300 + number);
        manager->writeData(fpmKey(number, "DataLength"), TEMPLATE_SIZE);
        manager->writeData(fpmKey(number, "Data"), templates.data(), templates.size());
        manager->writeData(fpmKey(number, "CFG"), cfg.data(), cfg.size());
        manager->writeData(fpmKey(number, "CRC"), crc.data(), crc.size());
    }
    bool finished = manager->finishBackup(true);
    CFileManager::Destroy();
    return finished;
}

// Every read a complete restore makes of the file, in its order: the
// module check before the controller is touched, the controller's key and
// size checks and data sets, the module check again, the module list, and
// each module's templates, CRC and configuration. Returns the module
// templates read, for the caller to compare.
std::vector<std::vector<char>> readLikeRestore(CFileManager* manager) {
    auto checkModules = [manager]() {
        for (int number = 1; number <= FPM_COUNT; ++number) {
            if (manager->hasKey(fpmKey(number, "DataLength"))) {
                unsigned long decoded = 0;
                benchmark::DoNotOptimize(manager->getDataDWord(fpmKey(number, "DataLength")));
                manager->getDataSize(fpmKey(number, "Data"), &decoded);
                benchmark::DoNotOptimize(decoded);
            }
        }
    };
    checkModules();
    benchmark::DoNotOptimize(manager->getDataFloat("Global.Version"));
    std::vector<std::string> keys = {"Global.Version"};
    for (const char* set : SET_NAMES) {
        benchmark::DoNotOptimize(manager->hasKey(std::string(set) + ".Data"));
        keys.push_back(std::string(set) + ".DataLength");
        keys.push_back(std::string(set) + ".Data");
    }
    benchmark::DoNotOptimize(manager->checkFile(keys));
    for (const char* set : SET_NAMES) {
        unsigned long decoded = 0;
        benchmark::DoNotOptimize(manager->getDataDWord(std::string(set) + ".DataLength"));
        manager->getDataSize(std::string(set) + ".Data", &decoded);
        benchmark::DoNotOptimize(decoded);
    }
    for (const char* set : SET_NAMES) {
        int length = manager->getDataDWord(std::string(set) + ".DataLength");
        std::vector<char> data(static_cast<size_t>(length));
        manager->getData(std::string(set) + ".Data", data.data(), length);
        benchmark::DoNotOptimize(data.data());
    }
    checkModules();
    benchmark::DoNotOptimize(manager->getDataDWord("FPM0.MASTER"));
    std::vector<std::vector<char>> modules;
    for (int number = 1; number <= FPM_COUNT; ++number) {
        if (!manager->hasKey(fpmKey(number, "DataLength"))) {
            continue;
        }
        int count = manager->getDataDWord(fpmKey(number, "DataLength"));
        std::vector<char> templates(TEMPLATE_SIZE);
        manager->getData(fpmKey(number, "Data"), templates.data(), count);
        char crc[CRC_SIZE] = {};
        manager->getData(fpmKey(number, "CRC"), crc, CRC_SIZE);
        char cfg[CFG_SIZE] = {};
        manager->getData(fpmKey(number, "CFG"), cfg, CFG_SIZE);
        benchmark::DoNotOptimize(crc);
        benchmark::DoNotOptimize(cfg);
        modules.push_back(std::move(templates));
    }
    return modules;
}

void BM_Base64Encode(benchmark::State& state) {
    std::vector<char> block = randomBytes(TEMPLATE_SIZE, 1);
    std::string text((TEMPLATE_SIZE + 2) / 3 * 4 + 1, '\0');
    CBase64 codec;
    for (auto _ : state) {
        codec.encode(block.data(), &text[0], TEMPLATE_SIZE, static_cast<unsigned int>(text.size()),
                     64);
        benchmark::DoNotOptimize(text.data());
        benchmark::ClobberMemory();
    }
    text.pop_back();
    if (text != encodedText(block)) {
        state.SkipWithError("the encoding changed between runs");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * TEMPLATE_SIZE);
}
BENCHMARK(BM_Base64Encode)->Unit(benchmark::kMicrosecond);

void BM_Base64Decode(benchmark::State& state) {
    const std::vector<char> block = randomBytes(TEMPLATE_SIZE, 1);
    const std::string text = encodedText(block);
    std::vector<char> decoded(TEMPLATE_SIZE);
    CBase64 codec;
    for (auto _ : state) {
        codec.decode(text.data(), decoded.data(), static_cast<unsigned int>(text.size()),
                     TEMPLATE_SIZE);
        benchmark::DoNotOptimize(decoded.data());
        benchmark::ClobberMemory();
    }
    if (decoded != block) {
        state.SkipWithError("the decoded block differs from the original");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * TEMPLATE_SIZE);
}
BENCHMARK(BM_Base64Decode)->Unit(benchmark::kMicrosecond);

// A module's template block stored as a backup run stores it: encoded and
// the whole file rewritten (here a file holding just this block).
void BM_FileManagerWriteData(benchmark::State& state) {
    ScratchDir dir;
    const std::string path = dir.file("write.bak");
    CFileManager* manager = freshManager(path);
    if (!dir.ok() || !manager->pathExists(path)) {
        state.SkipWithError("no temporary backup file");
        return;
    }
    std::vector<char> block = randomBytes(TEMPLATE_SIZE, 1);
    for (auto _ : state) {
        manager->writeData("FPM1.Data", block.data(), block.size());
    }
    manager->finishBackup(true);
    std::vector<char> back(TEMPLATE_SIZE);
    if (!freshManager(path)->getData("FPM1.Data", back.data(), TEMPLATE_SIZE) || back != block) {
        state.SkipWithError("the stored block does not read back");
    }
    CFileManager::Destroy();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * TEMPLATE_SIZE);
}
BENCHMARK(BM_FileManagerWriteData)->Unit(benchmark::kMicrosecond);

// A module's template block read from a loaded backup file: lookup, copy
// of the text and decoding.
void BM_FileManagerGetData(benchmark::State& state) {
    ScratchDir dir;
    const std::string path = dir.file("read.bak");
    std::vector<char> block = randomBytes(TEMPLATE_SIZE, 1);
    CFileManager* manager = freshManager(path);
    manager->writeData("FPM1.Data", block.data(), block.size());
    manager = freshManager(path);
    std::vector<char> decoded(TEMPLATE_SIZE);
    bool found = false;
    for (auto _ : state) {
        found = manager->getData("FPM1.Data", decoded.data(), TEMPLATE_SIZE);
        benchmark::DoNotOptimize(decoded.data());
        benchmark::ClobberMemory();
    }
    CFileManager::Destroy();
    if (!found || decoded != block) {
        state.SkipWithError("the block read differs from the one stored");
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * TEMPLATE_SIZE);
}
BENCHMARK(BM_FileManagerGetData)->Unit(benchmark::kMicrosecond);

// A complete eight-module backup file opened by a fresh file manager and
// read key by key as a restore reads it.
void BM_LoadEightModuleBackup(benchmark::State& state) {
    ScratchDir dir;
    const std::string path = dir.file("site.bak");
    if (!dir.ok() || !writeEightModuleBackup(path)) {
        state.SkipWithError("could not write the backup file");
        return;
    }
    std::vector<std::vector<char>> modules;
    for (auto _ : state) {
        modules = readLikeRestore(freshManager(path));
        benchmark::ClobberMemory();
    }
    CFileManager::Destroy();
    bool same = modules.size() == FPM_COUNT;
    for (int number = 1; same && number <= FPM_COUNT; ++number) {
        same = modules[number - 1] == randomBytes(TEMPLATE_SIZE, number);
    }
    if (!same) {
        state.SkipWithError("the modules read differ from the ones written");
    }
    struct stat info;
    if (stat(path.c_str(), &info) == 0) {
        state.counters["file_bytes"] = static_cast<double>(info.st_size);
    }
}
BENCHMARK(BM_LoadEightModuleBackup)->Unit(benchmark::kMillisecond);

} // namespace
