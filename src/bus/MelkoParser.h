#pragma once

class CMelkoFrame;
class CMelkoTele;

// Validates a received telegram and decodes it. Every scan stops at the end
// of the block: a block without its closing ETX, or ending in a lone DLE,
// fails instead of being read past.
class CMelkoParser {
public:
    // True when the bytes from offset 1 up to the closing ETX (the first
    // 0x03 not escaped by a DLE) sum to 0x00 or 0xF3.
    bool checkCRC(const char* buffer, int length);
    // Removes the stuffing in place up to the closing ETX, which becomes a
    // zero byte. Returns the bytes kept, or -1 when the block has no ETX.
    int removeDLE(char* buffer, int length);
    // Decodes the frame's telegram into tele and returns its info byte count.
    // A failed decode (checksum, no ETX, fewer than 5 bytes) returns -1 and
    // leaves tele as it was.
    int getTele(const CMelkoFrame* frame, CMelkoTele* tele);
};
