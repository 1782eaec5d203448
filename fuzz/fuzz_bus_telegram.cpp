// Bus frames and telegrams: a received header and block, the checksum
// test, the unstuffing and the decode, each on exactly the bytes received;
// and a write-data telegram built from the input decodes to what was put in.
#include "FuzzCheck.h"
#include "bus/MelkoAction.h"
#include "bus/MelkoFrame.h"
#include "bus/MelkoParser.h"
#include "bus/MelkoTele.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

[[noreturn]] void fail(const char* what) {
    fuzzcheck::fail("bus telegram", what);
}

using fuzzcheck::copyOf;

void receivedFrame(const uint8_t* data, size_t size) {
    CMelkoFrame frame;
    if (size >= CMelkoFrame::HEADER_SIZE) {
        std::unique_ptr<char[]> header = copyOf(data, CMelkoFrame::HEADER_SIZE);
        frame.setHeader(header.get());
        const long announced = data[2] + static_cast<signed char>(data[3]) * 256L;
        if (frame.getDataLength() != announced) {
            fail("setHeader misread the length");
        }
        const unsigned long frameSize = frame.getFrameSize();
        std::unique_ptr<char[]> wire(new char[frameSize]);
        frame.getBuffer(wire.get());
    }
    // The whole input as the frame's block, when it fits.
    const unsigned long length = size;
    std::unique_ptr<char[]> block = copyOf(data, size);
    const bool taken = frame.setData(block.get(), length);
    if (taken != (length <= CMelkoFrame::MAX_DATA_LENGTH)) {
        fail("setData took a block it cannot hold, or refused one it can");
    }
    if (!taken) {
        return;
    }
    std::unique_ptr<char[]> out(new char[length]);
    unsigned long outLength = 0;
    frame.getData(out.get(), &outLength);
    if (outLength != length || (length > 0 && memcmp(out.get(), block.get(), length) != 0)) {
        fail("getData did not give the block back");
    }

    CMelkoParser parser;
    const int count = static_cast<int>(size);
    std::unique_ptr<char[]> forCrc = copyOf(data, size);
    const bool crcGood = parser.checkCRC(forCrc.get(), count);
    std::unique_ptr<char[]> unstuffed = copyOf(data, size);
    const int kept = parser.removeDLE(unstuffed.get(), count);
    if (kept < -1 || kept >= count) {
        fail("removeDLE kept an impossible number of bytes");
    }
    CMelkoTele tele;
    const int info = parser.getTele(&frame, &tele);
    if (info >= 0) {
        if (!crcGood || kept != info + 5 || tele.getInfoSize() != info ||
            tele.getDestination() != unstuffed[1] || tele.getFunction() != unstuffed[2] ||
            tele.getSource() != unstuffed[3] ||
            memcmp(tele.getInfoBytes(), unstuffed.get() + 4, static_cast<size_t>(info)) != 0) {
            fail("getTele disagrees with checkCRC and removeDLE");
        }
    } else if (crcGood && kept >= 5) {
        fail("getTele refused a telegram that passes checkCRC and removeDLE");
    }
}

// destination, three address bytes, then the data (at most 250 bytes).
void writeRoundTrip(const uint8_t* data, size_t size) {
    if (size < 4) {
        return;
    }
    const char destination = static_cast<char>(data[0]);
    const unsigned long address = data[1] | data[2] << 8 | static_cast<unsigned long>(data[3]) << 16;
    const int length = static_cast<int>(std::min<size_t>(size - 4, 250));
    std::unique_ptr<char[]> payload = copyOf(data + 4, static_cast<size_t>(length));
    CMelkoFrame frame;
    CMelkoAction().buildWriteDataMsg(&frame, destination, address, payload.get(), length);
    if (frame.getType() != CMelkoFrame::TYPE_TELEGRAM || frame.getDataLength() < 5 ||
        static_cast<unsigned long>(frame.getDataLength()) > CMelkoFrame::MAX_DATA_LENGTH) {
        fail("a write-data telegram does not fit its frame");
    }
    CMelkoTele tele;
    const int info = CMelkoParser().getTele(&frame, &tele);
    if (info != 5 + length) {
        fail("a write-data telegram did not decode");
    }
    const unsigned char head[5] = {static_cast<unsigned char>(address & 0xFF),
                                   static_cast<unsigned char>((address >> 8) & 0xFF),
                                   static_cast<unsigned char>((address >> 16) & 0xFF), 0,
                                   static_cast<unsigned char>(length)};
    if (tele.getDestination() != destination ||
        static_cast<unsigned char>(tele.getFunction()) != CMelkoAction::FUNCTION_WRITE_DATA ||
        static_cast<unsigned char>(tele.getSource()) != CMelkoAction::ADDRESS_TOOL ||
        memcmp(tele.getInfoBytes(), head, 5) != 0 ||
        memcmp(tele.getInfoBytes() + 5, payload.get(), static_cast<size_t>(length)) != 0) {
        fail("a write-data telegram decoded to something else");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    receivedFrame(data, size);
    writeRoundTrip(data, size);
    return 0;
}
