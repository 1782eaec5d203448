#pragma once

#include <vector>

// One frame of the controller's data connection: SOH, type and data id, and
// for the length-carrying types a 32-bit little-endian length and the data.
class CFrame {
public:
    // The controller's message types.
    enum Type : unsigned char {
        TYPE_BACKUP = 0,
        TYPE_RESTORE = 1,
        TYPE_RESPONSE = 2,
        TYPE_CLOSE = 3,
        TYPE_CLOSE_ACK = 6,
        TYPE_GET_VERSION = 7,
        TYPE_VERSION_REPLY = 8,
        TYPE_COMPARE_PASSWORD = 9,
        TYPE_PASSWORD_REPLY = 10,
    };
    // The start-of-header byte of every frame the tool sends.
    static constexpr unsigned char SOH = 1;

    // Size of a header-only frame and of a length-carrying header.
    static constexpr unsigned char SHORT_HEADER_SIZE = 3;
    static constexpr unsigned char LONG_HEADER_SIZE = 7;

    CFrame();
    virtual ~CFrame();

    CFrame(const CFrame&) = delete;
    CFrame& operator=(const CFrame&) = delete;

    // Types 0, 3, 5, 6, 7, 8 and 10 are the bare 3-byte header; every other
    // type carries a length field and a data block.
    static bool isHeaderOnlyType(unsigned char type);

    void setSOH(unsigned char soh) { m_SOH = soh; }
    void setType(unsigned char type) { m_type = type; }
    void setDataId(unsigned char dataId) { m_dataId = dataId; }
    unsigned char getSOH() const { return m_SOH; }
    unsigned char getType() const { return m_type; }
    unsigned char getDataId() const { return m_dataId; }
    unsigned long getDataLength() const { return m_dataLength; }

    // Replaces the data block; logs "Memory error" when it cannot be held.
    void setData(const char* data, unsigned long length);
    // Takes the block over without copying it (a data set may be large).
    void setData(std::vector<char> data);
    const std::vector<char>& getDataBlock() const { return m_data; }
    // Copies the block (at most getDataLength() bytes of it) to dest; without
    // a block both dest and *length are left alone.
    void getData(char* dest, unsigned long* length) const;

    unsigned long getFrameSize() const;
    // Writes the wire form; buffer must hold getFrameSize() bytes.
    bool getBuffer(char* buffer) const;
    // Writes the header's wire form (at most LONG_HEADER_SIZE bytes) and
    // returns its size; the data block follows it on the wire.
    unsigned char getHeader(char* buffer) const;
    // Parses a received header; 7 bytes are needed for a length-carrying type.
    // The data block is left as it was.
    bool setHeader(const char* buffer);

private:
    std::vector<char> m_data;
    unsigned long m_dataLength;
    unsigned char m_dataId;
    unsigned char m_type;
    unsigned char m_SOH;
};
