#pragma once

#include <string>
#include <vector>

class CDataNetwork;
class CFileManager;
class CFrame;

// The controller data protocol: interface version, password check, and the
// backup and restore of the controller's four data sets through the backup
// file. Run-ending failures are logged and thrown as an int error code.
class CDataProtocol {
public:
    // The data sets have the ids 0 to DATA_SET_COUNT - 1.
    static constexpr int DATA_SET_COUNT = 4;
    static constexpr const char* VERSION_KEY = "Global.Version";
    // Backup files older than this interface version cannot be restored.
    static constexpr int OLDEST_FILE_VERSION = 104;
    // No controller holds a larger data set: a longer reply is broken (14),
    // a longer set in a file is corrupt (7, backup/Inspector).
    static constexpr unsigned long MAX_DATA_SET_LENGTH = 256UL * 1024 * 1024;

    // The backup file's keys of a data set; empty names for an unknown id.
    static std::string dataSetName(int dataId);
    static std::string lengthKey(int dataId);
    static std::string dataKey(int dataId);

    CDataProtocol();
    virtual ~CDataProtocol();

    void initialize();

    // Leaves *name untouched for an id that names no data set.
    void getDataNameById(unsigned char dataId, std::string* name);
    float getVersion();
    bool checkVersion(unsigned long controllerVersion);
    bool comparePassword(std::string password);
    bool checkResponseError(const char* text, CFrame* frame);
    bool readPackage(CFrame* frame, unsigned char headerSize);

    // Returns true when it returns at all: a missing or broken reply ends
    // the run (11 or 14).
    bool backupAllTursaData(unsigned long version);
    bool backupData(int dataId);
    void saveData2File(CFrame* frame);

    // The file has passed the restore's check (CBackup::checkRestoreFile)
    // before: only its version, compared with the controller's, is checked
    // here (12).
    bool restoreAllTursaData(unsigned long version);
    void createKeyList(std::vector<std::string>* keys);
    unsigned long readDataSizeFromFile(int dataId);
    unsigned long readDataFromFile(int dataId, char* buffer);
    bool restoreData(unsigned char dataId, char* data, unsigned long length);
    // The same, taking the data set over instead of copying it.
    bool restoreData(unsigned char dataId, std::vector<char> data);

private:
    CFileManager* m_fileManager;
    CDataNetwork* m_network;
};
