#pragma once

#include "net/Network.h"

class CFrame;

// The tool's one connection to the controller's data service: whole
// controller frames over a CNetwork, and the orderly close.
class CDataNetwork : public CNetwork {
public:
    static CDataNetwork* getInstance();
    // Deletes the instance without closing anything.
    static void Destroy();

    bool sendFrame(CFrame* frame, unsigned long timeoutMs);
    // Receives a header of headerSize bytes (3 or 7) into frame and returns
    // the data length it announces, or -1. A length-carrying type that comes
    // in reply to a 3-byte request also has its 4 length bytes read, so the
    // stream stays in step.
    long receiveFrameHeader(CFrame* frame, unsigned char headerSize, unsigned long timeoutMs);
    // Receives the size bytes of data announced by a header into frame.
    bool receiveFrameData(CFrame* frame, unsigned long size, unsigned long timeoutMs);
    int receiveData(char* buffer, int length, unsigned long timeoutMs);

    // Sends the close request and closes the socket once the controller
    // acknowledges (type 6) or stays silent for a second; any other reply
    // leaves the connection open. Always false.
    bool closeConnection();

private:
    CDataNetwork() {}

    static CDataNetwork* m_instance;
};
