#pragma once

#include <string>
#include <vector>

class CProperty;

// The one access point to the backup file: numbers as decimal text, byte
// blocks as Base64 text.
//
// A backup never writes over the user's previous file while it runs:
// pathExists() creates a temporary file (mode 0600) beside the target and
// every store goes there. finishBackup(true) moves the complete file over
// the target atomically; finishBackup(false) leaves the target untouched and
// keeps what was collected as "<file>.partial".
class CFileManager {
public:
    static CFileManager* getInstance();
    static void Destroy();

    virtual ~CFileManager();
    // The one instance, owning its property and the run's temporary file.
    CFileManager(const CFileManager&) = delete;
    CFileManager& operator=(const CFileManager&) = delete;

    void setFileName(const std::string& fileName);
    std::string getFileName() const;

    // Both refuse a symbolic link that neither the effective user nor root
    // owns (see base/TrustedLink.h).
    bool fileExists(const std::string& path);
    bool pathExists(std::string path);

    bool hasKey(const std::string& key);
    bool checkFile(const std::vector<std::string>& keys);

    // Both return true once the entry is held, false before a file name is
    // set. A number reaches the disk with the next block or at the end of
    // the run; a block is stored at once (a failure is logged, and the
    // entry stays for the next store). Running out of memory throws.
    bool writeData(std::string key, long value);
    bool writeData(std::string key, const char* data, unsigned long length);
    bool getData(const std::string& key, char* buffer, int maxBytes);
    // The number of bytes the key's Base64 text decodes to; false when the
    // key is absent.
    bool getDataSize(const std::string& key, unsigned long* size);
    // The key's value as the file holds it (trimmed); false when absent.
    bool getText(const std::string& key, std::string* text);
    // True when the key's value is Base64 as a backup writes it
    // (CBase64::isValid), checked in place; false when absent.
    bool hasValidData(const std::string& key);
    int getDataDWord(const std::string& key);
    float getDataFloat(const std::string& key);

    // Ends a backup run that called pathExists. Returns false (after logging
    // "Could not open backup file.") when a successful run's file could not
    // be put in place.
    bool finishBackup(bool success);

private:
    CFileManager();

    bool propertyIsForTarget() const;
    void redirectToPending();
    bool keepPending(const std::string& temporary, int descriptor, const std::string& destination);
    bool storeBeside(const std::string& destination);
    static int createTemporaryBeside(const std::string& path, std::string* name);
    static std::string partialPathOf(const std::string& target);
    static bool isOurs(const std::string& path, int descriptor);
    static void removeIfOurs(const std::string& path, int descriptor);

    static CFileManager* m_instance;

    CProperty* m_property;
    std::string m_targetPath;
    std::string m_pendingPath;
    // The temporary file, open from its creation to the end of the run.
    int m_pendingDescriptor;
    // Where the finished file goes: the target, or the file a symbolic link
    // as target points to.
    std::string m_finalPath;
};
