#pragma once

#include <string>

class CFileManager;
class CMelkoTele;

// The module keys of the backup file: what a backup writes for each module
// and a restore reads back. FPM0.MASTER holds 0xC0 + the master module's
// number, or 0xC0 alone when every module was saved on its own; each module
// has FPM<number>.DataLength, .Data (its template area), .CFG and .CRC.
// Whether a file's keys make it restorable is the inspector's to judge
// (backup/Inspector), before a restore sends anything.
class CModuleKeys {
public:
    static constexpr const char* MASTER_KEY = "FPM0.MASTER";

    // The key of a module's value, as "FPM<number>.<suffix>" with the
    // suffix DataLength, Data, CFG or CRC.
    static std::string fpmKey(int number, const char* suffix);

    CModuleKeys();
    void bind(CFileManager* files);

    // A module is in the file when its DataLength is.
    bool holdsModule(int number);

    void saveTemplates(int number, CMelkoTele* templates);
    // Only a reply of at least 5 bytes gives a configuration.
    void saveCfg(int number, CMelkoTele* reply);
    void saveCrc(int number, CMelkoTele* reply);
    void saveMaster(unsigned char address);

    // The template byte count, 0 when the module has none; at most a
    // template area is read into the buffer.
    unsigned long readTemplates(char number, char* buffer);
    // 5, or 0 when the file has no configuration for the number.
    int readCfg(char number, char* buffer);
    // Up to 5 bytes; returns 5.
    int readCrc(char number, char* buffer);
    // 0 when the file has no FPM0.MASTER.
    void readMaster(unsigned char* address);

private:
    CFileManager* m_files;
};
