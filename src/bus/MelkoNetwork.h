#pragma once

#include "net/Network.h"

class CMelkoFrame;

// The bus connection (port 11575): whole bus frames over a CNetwork. A
// received frame is only taken when it fits: a header announcing a negative
// length or more than 520 bytes is a failed receipt.
class CMelkoNetwork : public CNetwork {
public:
    static CMelkoNetwork* getInstance();
    // Deletes the instance; its socket is closed with it.
    static void Destroy();

    // Drops what is waiting on the connection and what was read beyond the
    // last frame: the late or surplus replies of earlier requests.
    void discardWaiting();

    bool sendFrame(CMelkoFrame* frame, unsigned long timeoutMs);
    // Reads a header of headerSize bytes (at most 5; the tool reads 4) and
    // returns the data length it announces, or -1.
    int receiveFrameHeader(CMelkoFrame* frame, unsigned char headerSize, unsigned long timeoutMs);
    // Reads the announced data block, each read with its own 60000 ms.
    bool receiveFrameData(CMelkoFrame* frame, unsigned long length);
    int receiveData(char* buffer, int length, unsigned long timeoutMs);

private:
    CMelkoNetwork() : m_readStart(0), m_readEnd(0) {}

    // Reads until at least count bytes are buffered; a reply usually comes
    // whole, so header and data take one read.
    bool fillReadBuffer(unsigned long count, unsigned long timeoutMs);
    void takeFromReadBuffer(char* dest, unsigned long count);

    static CMelkoNetwork* m_instance;

    static constexpr unsigned long READ_BUFFER_SIZE = 2048;
    char m_readBuffer[READ_BUFFER_SIZE];
    unsigned long m_readStart;
    unsigned long m_readEnd;
};
