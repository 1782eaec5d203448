#pragma once

class CMelkoFrame;

// Builds the tool's request telegrams: STX, the byte-stuffed body
// (destination, function, source 0xF0, info bytes), an optional filler, the
// checksum and ETX, stored as the data of a frame of type 1.
class CMelkoAction {
public:
    // Bus addresses.
    static constexpr unsigned char ADDRESS_TOOL = 0xF0;
    static constexpr unsigned char ADDRESS_FIRST_FPM = 0xC0; // + FPM number 1 to 8
    static constexpr unsigned char ADDRESS_ALL_FPM = 0xCF;
    static constexpr unsigned char ADDRESS_ALL_DEVICES = 0xFF;

    // Function codes.
    static constexpr unsigned char FUNCTION_RESET_BUS = 0x01;
    static constexpr unsigned char FUNCTION_IDENT = 0x02;
    static constexpr unsigned char FUNCTION_READ_DATA = 0x03;
    static constexpr unsigned char FUNCTION_WRITE_DATA = 0x04;
    static constexpr unsigned char FUNCTION_CHECK = 0x06;
    static constexpr unsigned char FUNCTION_PROG_MODE_ON = 0x07;
    static constexpr unsigned char FUNCTION_PROG_MODE_OFF = 0x08;
    static constexpr unsigned char FUNCTION_CFG_WRITTEN = 0x1D; // the reply to a configuration write
    static constexpr unsigned char FUNCTION_CLEAN = 0x5A;
    static constexpr unsigned char FUNCTION_READ_CFG = 0x5E;
    static constexpr unsigned char FUNCTION_WRITE_CFG = 0x60;
    static constexpr unsigned char FUNCTION_COMP_DB = 0x71;

    // Control bytes of a telegram.
    static constexpr char STX = 0x02;
    static constexpr char ETX = 0x03;
    static constexpr char DLE = 0x10;

    // The check function's sub-function that reads a module's CRC.
    static constexpr char CHECK_READ_CRC = 2;

    void buildResetBusMsg(CMelkoFrame* frame, char destination);
    void buildIdentRequest(CMelkoFrame* frame, char destination);
    void buildReadDataMsg(CMelkoFrame* frame, char destination, unsigned long address, int count);
    void buildWriteDataMsg(CMelkoFrame* frame, char destination, unsigned long address,
                           const char* data, int length);
    void buildCheckFunctionMsg(CMelkoFrame* frame, char destination, char subFunction);
    void buildProgModeMsg(CMelkoFrame* frame, char destination, bool on);
    void buildCleanFPMMsg(CMelkoFrame* frame, char destination);
    void buildReadCfgMsg(CMelkoFrame* frame, char destination);
    void buildWriteCfgMsg(CMelkoFrame* frame, char destination, const char* data, int length);
    void buildCompDBMsg(CMelkoFrame* frame, char destination);

    // Stuffs the buffer in place (a 520-byte work area): every 0x03 and 0x10
    // gets a DLE before it. A length of 0 or less becomes 0.
    void addDLE(char* buffer, int* length);
    // Appends the checksum of the bytes from offset 1 on, with a filler DLE
    // first whenever the checksum would be 0x03 or 0x10.
    void addCRC(char* buffer, int* length);

private:
    void build(CMelkoFrame* frame, char destination, unsigned char function, const char* info,
               int infoLength);
};
