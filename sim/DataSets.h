#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace sim {

// The controller's four configuration data sets, addressed by the data id
// of backup and restore frames.
class DataSets {
public:
    static const int kCount = 4;

    // Name of a data set, or nullptr for an id the controller does not know.
    static const char* name(int id);

    // Fills every set with deterministic pseudo-random bytes; a set of 256
    // bytes or more contains every byte value.
    void generate(uint64_t seed, const std::array<size_t, kCount>& sizes);

    // Reads DIR/<name>.bin for every set; a missing file is an empty set.
    bool load(const std::string& dir, std::string* error);

    const std::string& get(int id) const { return m_sets.at(id); }
    void replace(int id, std::string bytes) { m_sets.at(id) = std::move(bytes); }

    static std::string generatedBytes(uint64_t seed, int id, size_t size);

private:
    std::array<std::string, kCount> m_sets;
};

} // namespace sim
