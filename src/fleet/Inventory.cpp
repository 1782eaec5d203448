#include "fleet/Inventory.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <unistd.h>
#include <unordered_map>

namespace {

std::string quoted(const std::string& text) {
    return "\"" + text + "\"";
}

bool isNameCharacter(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' ||
           c == '_' || c == '-';
}

} // namespace

bool CInventory::load(const std::string& path) {
    m_controllers.clear();
    m_errors.clear();
    std::ifstream in(path);
    if (!in) {
        m_errors.push_back(path + ": cannot be read");
        return false;
    }
    std::unordered_map<std::string, size_t> lineOfName;
    size_t number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        line.erase(std::min(line.find('#'), line.size()));
        if (line.find_first_not_of(" \t\r") == std::string::npos) {
            continue;
        }
        Controller controller;
        std::string wrong = parseLine(line, &controller);
        if (wrong.empty()) {
            const auto [first, fresh] = lineOfName.emplace(controller.name, number);
            if (!fresh) {
                wrong = "duplicate name " + quoted(controller.name);
                wrong += " (first on line " + std::to_string(first->second) + ")";
            }
        }
        if (!wrong.empty()) {
            m_errors.push_back(path + ":" + std::to_string(number) + ": ");
            m_errors.back() += wrong;
        } else {
            m_controllers.push_back(std::move(controller));
        }
    }
    return m_errors.empty();
}

std::string CInventory::parseLine(const std::string& line, Controller* controller) const {
    std::istringstream words(line);
    words >> controller->name;
    if (!isValidName(controller->name)) {
        return "name " + quoted(controller->name) + " is not 1 to 64 of A-Z a-z 0-9 . _ -";
    }
    std::unordered_map<std::string, std::string> values;
    for (std::string word; words >> word;) {
        const size_t equals = word.find('=');
        if (equals == std::string::npos || equals == 0 || equals + 1 == word.size()) {
            return quoted(word) + " is not key=value";
        }
        const std::string key = word.substr(0, equals);
        if (key != "address" && key != "password_file" && key != "password_env" && key != "master") {
            return "unknown key " + quoted(key);
        }
        if (!values.emplace(key, word.substr(equals + 1)).second) {
            return "key " + quoted(key) + " given twice";
        }
    }
    controller->address = values["address"];
    controller->passwordFile = values["password_file"];
    controller->passwordEnv = values["password_env"];
    const std::string& master = values["master"];
    if (!master.empty()) {
        controller->master = master.size() == 1 && master[0] >= '1' && master[0] <= '8' ? master[0] - '0' : -1;
        if (controller->master < 0) {
            return "master " + quoted(master) + " is not 1 to 8";
        }
    }
    return checkController(*controller);
}

std::string CInventory::checkController(const Controller& controller) {
    struct in_addr parsed {};
    if (controller.address.empty()) {
        return "address missing";
    }
    if (inet_pton(AF_INET, controller.address.c_str(), &parsed) != 1) {
        return "address " + quoted(controller.address) + " is not a dotted IPv4 address";
    }
    const bool hasFile = !controller.passwordFile.empty();
    const bool hasEnv = !controller.passwordEnv.empty();
    if (hasFile == hasEnv) {
        return hasFile ? "both password_file and password_env given"
                       : "neither password_file nor password_env given";
    }
    if (hasFile && access(controller.passwordFile.c_str(), R_OK) != 0) {
        return "password file " + quoted(controller.passwordFile) + " cannot be read";
    }
    if (hasEnv && getenv(controller.passwordEnv.c_str()) == nullptr) {
        return "environment variable " + quoted(controller.passwordEnv) + " is not set";
    }
    return "";
}

const CInventory::Controller* CInventory::find(const std::string& name) const {
    for (const Controller& controller : m_controllers) {
        if (controller.name == name) {
            return &controller;
        }
    }
    return nullptr;
}

bool CInventory::isValidName(const std::string& name) {
    if (name.empty() || name.size() > 64 || name == "." || name == "..") {
        return false;
    }
    for (char c : name) {
        if (!isNameCharacter(c)) {
            return false;
        }
    }
    return true;
}

uint32_t CInventory::nameHash(const std::string& name) {
    uint32_t hash = 2166136261u;
    for (unsigned char byte : name) {
        hash ^= byte;
        hash *= 16777619u;
    }
    return hash;
}
