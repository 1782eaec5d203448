#pragma once

// One frame of the bus connection: 0x01, the frame type, a 16-bit
// little-endian data length and the data block, which holds exactly one
// byte-stuffed bus telegram.
class CMelkoFrame {
public:
    static constexpr unsigned long MAX_DATA_LENGTH = 520;
    static constexpr unsigned char HEADER_SIZE = 4;
    // The type of every frame that carries a telegram.
    static constexpr char TYPE_TELEGRAM = 1;

    CMelkoFrame();

    void setType(char type) { m_type = type; }
    char getType() const { return m_type; }
    // Negative after a header whose high length byte is 0x80 or more.
    long getDataLength() const { return m_dataLength; }
    unsigned long getFrameSize() const;

    // Writes header and data (getFrameSize() bytes); false for a null buffer.
    bool getBuffer(char* buffer) const;
    // Takes a received 4-byte header; the high length byte counts as signed.
    bool setHeader(const char* header);
    // Copies the valid data bytes out and stores their count.
    void getData(char* dest, unsigned long* length) const;
    // Refuses (false, frame unchanged) a block larger than the frame holds.
    bool setData(const char* data, unsigned long length);

private:
    char m_type;
    long m_dataLength;
    char m_data[MAX_DATA_LENGTH];
};
