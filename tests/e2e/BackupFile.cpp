#include "e2e/BackupFile.h"

#include "e2e/ToolRun.h"
#include "support/SimProcess.h"
#include "support/TempDir.h"

#include <cstdlib>
#include <memory>
#include <sstream>

namespace e2e {

const char* const SET_NAMES[4] = {"UserManagerConfig", "ConfigManager", "DayLightConfig",
                                  "SystemTimeConfig"};

namespace {

struct TreeNode {
    std::string key;
    std::unique_ptr<TreeNode> smaller;
    std::unique_ptr<TreeNode> greater;
};

void insert(std::unique_ptr<TreeNode>* root, const std::string& key) {
    while (*root) {
        if (key == (*root)->key) {
            return;
        }
        root = key < (*root)->key ? &(*root)->smaller : &(*root)->greater;
    }
    root->reset(new TreeNode{key, nullptr, nullptr});
}

void walk(const TreeNode* node, std::vector<std::string>* keys) {
    for (; node != nullptr; node = node->smaller.get()) {
        keys->push_back(node->key);
        walk(node->greater.get(), keys);
    }
}

} // namespace

std::vector<std::string> listingOrder(const std::vector<std::string>& insertionOrder) {
    std::unique_ptr<TreeNode> root;
    for (const std::string& key : insertionOrder) {
        insert(&root, key);
    }
    std::vector<std::string> keys;
    walk(root.get(), &keys);
    return keys;
}

std::string expectedBackup(int version, const std::map<std::string, std::string>& sets,
                           int masterAddress, const std::map<int, Module>& modules) {
    std::vector<std::string> order{"Global.Version"};
    std::map<std::string, std::string> values{{"Global.Version", std::to_string(version)}};
    auto put = [&](const std::string& key, const std::string& value) {
        order.push_back(key);
        values[key] = value;
    };
    for (const char* name : SET_NAMES) {
        const std::string& bytes = sets.at(name);
        put(std::string(name) + ".DataLength", std::to_string(bytes.size()));
        if (!bytes.empty()) {
            put(std::string(name) + ".Data", base64(bytes));
        }
    }
    put("FPM0.MASTER", std::to_string(masterAddress));
    for (const auto& [number, module] : modules) {
        const std::string prefix = "FPM" + std::to_string(number) + ".";
        put(prefix + "DataLength", std::to_string(module.templates.size()));
        put(prefix + "Data", base64(module.templates));
        put(prefix + "CFG", base64(module.config));
        put(prefix + "CRC", base64(module.crc));
    }
    std::string text;
    for (const std::string& key : listingOrder(order)) {
        text += key + "=" + values[key] + "\n";
    }
    return text + "\n";
}

std::map<std::string, std::string> parseBackup(const std::string& text) {
    std::map<std::string, std::string> entries;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        size_t equals = line.find('=');
        if (equals != std::string::npos) {
            entries[line.substr(0, equals)] = line.substr(equals + 1);
        }
    }
    return entries;
}

std::string unbase64(const std::string& text) {
    testsupport::TempDir scratch;
    testsupport::writeFile(scratch.file("in"), text);
    testsupport::writeFile(scratch.file("out"), "");
    const std::string command =
        "base64 -d < '" + scratch.file("in") + "' > '" + scratch.file("out") + "'";
    if (std::system(command.c_str()) != 0) {
        return "<not Base64>";
    }
    return testsupport::readFile(scratch.file("out"));
}

std::map<std::string, std::string> siteSets(const testsupport::SimProcess& site) {
    std::map<std::string, std::string> sets;
    for (const char* name : SET_NAMES) {
        sets[name] = site.dataSet(name);
    }
    return sets;
}

std::map<int, Module> siteModules(const testsupport::SimProcess& site, const std::vector<int>& numbers) {
    std::map<int, Module> modules;
    for (int number : numbers) {
        modules[number] = {site.fpmTemplates(number), site.fpmConfig(number), site.fpmCrc(number)};
    }
    return modules;
}

} // namespace e2e
