#include "DataSets.h"

#include "Prng.h"

#include <algorithm>
#include <cerrno>
#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace sim {

namespace {

const char* const kNames[DataSets::kCount] = {"UserManagerConfig", "ConfigManager",
                                              "DayLightConfig", "SystemTimeConfig"};

std::array<unsigned char, 256> shuffledByteValues(Prng* prng) {
    std::array<unsigned char, 256> values;
    for (int i = 0; i < 256; ++i) {
        values[i] = static_cast<unsigned char>(i);
    }
    for (int i = 255; i > 0; --i) {
        std::swap(values[i], values[prng->next() % (i + 1)]);
    }
    return values;
}

} // namespace

const char* DataSets::name(int id) {
    return id >= 0 && id < kCount ? kNames[id] : nullptr;
}

std::string DataSets::generatedBytes(uint64_t seed, int id, size_t size) {
    Prng prng(seed * 0x100000001B3ULL + static_cast<uint64_t>(id));
    std::string bytes;
    bytes.reserve(size);
    // Each run of 256 bytes is a fresh permutation of all byte values.
    while (bytes.size() < size) {
        std::array<unsigned char, 256> values = shuffledByteValues(&prng);
        size_t take = std::min<size_t>(values.size(), size - bytes.size());
        bytes.append(reinterpret_cast<const char*>(values.data()), take);
    }
    return bytes;
}

void DataSets::generate(uint64_t seed, const std::array<size_t, kCount>& sizes) {
    for (int id = 0; id < kCount; ++id) {
        m_sets[id] = generatedBytes(seed, id, sizes[id]);
    }
}

bool DataSets::load(const std::string& dir, std::string* error) {
    for (int id = 0; id < kCount; ++id) {
        std::string path = dir + "/" + kNames[id] + ".bin";
        struct stat info;
        if (stat(path.c_str(), &info) != 0 && errno == ENOENT) {
            m_sets[id].clear();
            continue;
        }
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            *error = "cannot read " + path;
            return false;
        }
        std::ostringstream content;
        content << in.rdbuf();
        m_sets[id] = content.str();
    }
    return true;
}

} // namespace sim
