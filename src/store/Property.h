#pragma once

#include <string>

class CMyMap;

// The backup file as key=value lines, held in memory as one key map. The
// file is loaded on the first read access; the map is written back only
// when it was changed by setProperty, so a run that only reads never
// rewrites the file.
class CProperty {
public:
    explicit CProperty(const std::string& fileName);
    virtual ~CProperty();
    // Owns its map.
    CProperty(const CProperty&) = delete;
    CProperty& operator=(const CProperty&) = delete;

    std::string getFileName() const { return m_fileName; }

    // Where store() writes and, once redirected, where a first read looks;
    // the file name unless redirected (a backup run writes into a temporary
    // file beside the target and must not pick up the old backup's lines).
    void setWriteFileName(std::string fileName) { m_writeFileName = fileName; }
    std::string getWriteFileName() const { return m_writeFileName; }
    // Stores go through this open descriptor (not owned) instead of a name,
    // so nobody can swap in another file between two stores; -1 ends it.
    // A first read then finds nothing to load: the file is the run's own.
    void setWriteDescriptor(int descriptor) { m_writeDescriptor = descriptor; }

    void setProperty(std::string key, std::string value);
    bool getProperty(const std::string& key, std::string* value);
    // The value as held in the map, without a copy; nullptr when absent.
    // Valid until the key is set again.
    const std::string* findProperty(const std::string& key);
    bool keyExists(const std::string& key);

    // True when setProperty changed the map since the last successful store.
    bool isChanged() const { return m_changed; }
    bool isEmpty() const;

    // Writes the map when it was changed; throws 19 when the file cannot be
    // opened or written.
    void store();
    bool readFile();
    void writeFile();

    // No backup run writes a larger file (four data sets of 256 MiB in
    // Base64, the modules' templates and the keys); a larger one is refused
    // as corrupt before it is read.
    static const long long MAX_FILE_SIZE = 1536LL * 1024 * 1024;

    static std::string trim(std::string text);

private:
    // Takes the line's buffer: a data set's value is never copied.
    void addLine(std::string line);
    // Reads the open file into the map, at most MAX_FILE_SIZE bytes; 0 or
    // the code of the failure.
    int readLines(int fd);
    // Writes the whole map through the descriptor; false on a write error.
    bool writeAllLines(int descriptor, bool replaceFromStart);
    [[noreturn]] static void failOpen();

    CMyMap* m_map;
    std::string m_fileName;
    std::string m_writeFileName;
    int m_writeDescriptor;
    bool m_writeFailureReported;
    bool m_changed;
    // The file is read once: a file replaced or emptied after a restore
    // checked it is never read again.
    bool m_loaded;
};
