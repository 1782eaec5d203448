// Controller frames: a received header is parsed from exactly the bytes it
// needs, and a frame assembled from the input's fields and data goes to the
// wire and back unchanged.
#include "FuzzCheck.h"
#include "controller/Frame.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

[[noreturn]] void fail(const char* what) {
    fuzzcheck::fail("controller frame", what);
}

using fuzzcheck::copyOf;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < CFrame::SHORT_HEADER_SIZE) {
        return 0;
    }
    const bool shortHeader = CFrame::isHeaderOnlyType(data[1]);
    const size_t headerSize = shortHeader ? CFrame::SHORT_HEADER_SIZE : CFrame::LONG_HEADER_SIZE;
    if (size < headerSize) {
        return 0;
    }

    // A received header: a header-only type must not need more than 3 bytes.
    CFrame received;
    std::unique_ptr<char[]> header = copyOf(data, headerSize);
    received.setHeader(header.get());
    unsigned long announced = 0;
    for (size_t i = 3; i < headerSize; ++i) {
        announced |= static_cast<unsigned long>(data[i]) << (8 * (i - 3));
    }
    if (received.getSOH() != data[0] || received.getType() != data[1] ||
        received.getDataId() != data[2] || received.getDataLength() != announced) {
        fail("setHeader misread the header");
    }
    // A header whose data has not arrived yet goes out zero-padded.
    if (announced <= 4096) {
        const unsigned long frameSize = received.getFrameSize();
        std::unique_ptr<char[]> wire(new char[frameSize]);
        received.getBuffer(wire.get());
        for (unsigned long i = headerSize; i < frameSize; ++i) {
            if (wire[i] != 0) {
                fail("a frame without data went out with stray bytes");
            }
        }
    }

    // A frame assembled from the input's header fields and the bytes after
    // the header, then parsed back from its own wire form.
    const unsigned long length = size - headerSize;
    std::unique_ptr<char[]> block = copyOf(data + headerSize, length);
    CFrame sent;
    sent.setSOH(data[0]);
    sent.setType(data[1]);
    sent.setDataId(data[2]);
    sent.setData(block.get(), length);
    const unsigned long frameSize = sent.getFrameSize();
    if (frameSize != (shortHeader ? CFrame::SHORT_HEADER_SIZE : CFrame::LONG_HEADER_SIZE + length)) {
        fail("getFrameSize disagrees with the type and the data");
    }
    std::unique_ptr<char[]> wire(new char[frameSize]);
    sent.getBuffer(wire.get());
    CFrame back;
    back.setHeader(wire.get());
    if (back.getSOH() != data[0] || back.getType() != data[1] || back.getDataId() != data[2]) {
        fail("the header did not survive the round trip");
    }
    if (!shortHeader) {
        if (back.getDataLength() != length ||
            (length > 0 && memcmp(wire.get() + CFrame::LONG_HEADER_SIZE, block.get(), length) != 0)) {
            fail("the data did not survive the round trip");
        }
        back.setData(wire.get() + CFrame::LONG_HEADER_SIZE, back.getDataLength());
        std::unique_ptr<char[]> out(new char[length]);
        unsigned long outLength = 0;
        back.getData(out.get(), &outLength);
        if (outLength != length || (length > 0 && memcmp(out.get(), block.get(), length) != 0)) {
            fail("getData did not give the data back");
        }
    }
    return 0;
}
