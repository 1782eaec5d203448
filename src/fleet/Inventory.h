#pragma once

#include <cstdint>
#include <string>
#include <vector>

// The controllers of an estate, one a line: a name, then key=value pairs
// (address, password_file or password_env, master). Every bad line is
// named as "INVENTORY:LINE: what is wrong"; one bad line and nothing runs.
class CInventory {
public:
    struct Controller {
        std::string name;
        std::string address;
        std::string passwordFile; // or
        std::string passwordEnv;
        int master = 0; // 0: each module on its own
    };

    // False when the file cannot be read or any line is bad.
    bool load(const std::string& path);

    const std::vector<Controller>& controllers() const { return m_controllers; }
    const std::vector<std::string>& errors() const { return m_errors; }
    const Controller* find(const std::string& name) const;

    // 1 to 64 of A-Z a-z 0-9 . _ -, and neither "." nor "..".
    static bool isValidName(const std::string& name);
    // The shard of a name: FNV-1a (32 bits, offset basis 2166136261, prime
    // 16777619) over the name's bytes, modulo the number of shards. It hangs
    // on the name alone, so adding a controller moves no other.
    static uint32_t nameHash(const std::string& name);
    static bool inShard(const std::string& name, unsigned index, unsigned count) {
        return nameHash(name) % count == index;
    }

private:
    // The controller of one line; what is wrong with it otherwise.
    std::string parseLine(const std::string& line, Controller* controller) const;
    static std::string checkController(const Controller& controller);

    std::vector<Controller> m_controllers;
    std::vector<std::string> m_errors;
};
