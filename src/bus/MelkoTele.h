#pragma once

#include <memory>

// A decoded bus telegram: source, destination, function and info bytes.
// The info buffer holds the 62000 bytes of a module's template area, which
// a backup collects block by block into one telegram.
class CMelkoTele {
public:
    static constexpr long INFO_CAPACITY = 63000;

    CMelkoTele();

    char getSource() const { return m_source; }
    char getDestination() const { return m_destination; }
    char getFunction() const { return m_function; }
    void setSource(char source) { m_source = source; }
    void setDestination(char destination) { m_destination = destination; }
    void setFunction(char function) { m_function = function; }

    int getInfoSize() const { return m_infoSize; }
    char* getInfoBytes() { return m_infoBytes.get(); }
    const char* getInfoBytes() const { return m_infoBytes.get(); }

    // Replaces the content; a length outside 0..capacity changes nothing.
    void setInfoBytes(const char* bytes, long length);
    // Appends only while the content stays below the capacity; a block that
    // would reach it is dropped whole.
    void appendInfoBytes(const char* bytes, long length);

private:
    char m_source;
    char m_destination;
    char m_function;
    int m_infoSize;
    std::unique_ptr<char[]> m_infoBytes;
};
