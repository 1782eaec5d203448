#pragma once

#include <string>
#include <vector>

class CFileManager;

// What a backup file holds for a restore, read through the tool's own store
// (the same line splitting, trimming and Base64 decoding as a restore), so
// that the inspector cannot see a file differently from the tool.
class CBackupContent {
public:
    // A decimal number: the value as the tool reads it, and whether the text
    // is exactly that value in decimal digits.
    struct Number {
        bool present = false;
        bool valid = false;
        long value = 0;
        std::string text;
    };
    // A byte block: how many bytes the tool decodes (and the bytes, when
    // read with them), and whether the text is well-formed Base64.
    struct Block {
        bool present = false;
        bool valid = false;
        unsigned long size = 0;
        std::string bytes;
    };
    struct DataSet {
        std::string name;
        Number length;
        Block data;
    };
    // A module is in the file when its DataLength is: a restore skips the
    // other keys of a module without it.
    struct Module {
        int number = 0;
        Number length;
        Block data;
        Block cfg;
        Block crc;
        bool inFile() const { return length.present; }
        bool hasAnyKey() const {
            return length.present || data.present || cfg.present || crc.present;
        }
    };

    // Reads the file with every block's bytes; false when it cannot be read
    // (missing, not a regular file, no permission).
    bool load(const std::string& path);
    // Reads the file the store already holds, as a restore checks it before
    // it sends anything: the blocks' sizes only, none decoded, since a
    // restore holds one decoded data set at a time. The store's exit status
    // is thrown when the file cannot be read.
    void readForCheck(CFileManager* files);

    const std::string& path() const { return m_path; }
    const Number& version() const { return m_version; }
    const std::vector<DataSet>& dataSets() const { return m_dataSets; }
    const Number& master() const { return m_master; }
    // Modules 1 to 8 in order, those not in the file too.
    const std::vector<Module>& modules() const { return m_modules; }

    // The module a master-mode file was made from; 0 when every module was
    // saved on its own; -1 when FPM0.MASTER is missing or means neither.
    int masterModule() const;

private:
    void readAll(CFileManager* files, bool withBytes);
    static Number readNumber(CFileManager* files, const std::string& key);
    static Block readBlock(CFileManager* files, const std::string& key, bool withBytes);

    std::string m_path;
    Number m_version;
    std::vector<DataSet> m_dataSets;
    Number m_master;
    std::vector<Module> m_modules;
};
