// Bus telegrams as they travel: building with stuffing, filler and checksum,
// and the bounded decoding of replies.
#include "bus/MelkoAction.h"
#include "bus/MelkoFrame.h"
#include "bus/MelkoParser.h"
#include "bus/MelkoTele.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

Bytes wireOf(const CMelkoFrame& frame) {
    std::vector<char> buffer(frame.getFrameSize());
    EXPECT_TRUE(frame.getBuffer(buffer.data()));
    return Bytes(buffer.begin(), buffer.end());
}

// The telegram of a frame, without the 4 header bytes.
Bytes telegramOf(const CMelkoFrame& frame) {
    Bytes wire = wireOf(frame);
    return Bytes(wire.begin() + 4, wire.end());
}

CMelkoFrame frameHolding(const Bytes& telegram) {
    CMelkoFrame frame;
    EXPECT_TRUE(frame.setData(reinterpret_cast<const char*>(telegram.data()), telegram.size()));
    return frame;
}

} // namespace

TEST(BusTelegram, WorkedExamplesOnTheWire) {
    CMelkoAction action;
    CMelkoFrame ident;
    action.buildIdentRequest(&ident, static_cast<char>(0xC1));
    EXPECT_EQ(wireOf(ident), (Bytes{0x01, 0x01, 0x07, 0x00, 0x02, 0xC1, 0x02, 0xF0, 0x00, 0x4D, 0x03}));

    // The function code 0x03 travels stuffed, and the inserted DLE counts
    // in the checksum: 0xC2 + 0x10 + 0x03 + 0xF0 + 0x01 + 0x80 = 0x246.
    CMelkoFrame read;
    action.buildReadDataMsg(&read, static_cast<char>(0xC2), 0x000100, 128);
    EXPECT_EQ(telegramOf(read),
              (Bytes{0x02, 0xC2, 0x10, 0x03, 0xF0, 0x00, 0x01, 0x00, 0x00, 0x80, 0xBA, 0x03}));

    // Configuration writes whose checksum would be 0x03 or 0x10 get a
    // filler DLE and a checksum of 0xF3 or 0x00 (body sum before it: 0x12).
    CMelkoFrame fillerF3;
    const char toF3[] = {0, 0, 0, 0, static_cast<char>(0xEB)};
    action.buildWriteCfgMsg(&fillerF3, static_cast<char>(0xC1), toF3, 5);
    EXPECT_EQ(telegramOf(fillerF3), (Bytes{0x02, 0xC1, 0x60, 0xF0, 0x01, 0, 0, 0, 0, 0xEB, 0x10, 0xF3, 0x03}));
    CMelkoFrame filler00;
    const char to00[] = {0, 0, 0, 0, static_cast<char>(0xDE)};
    action.buildWriteCfgMsg(&filler00, static_cast<char>(0xC1), to00, 5);
    EXPECT_EQ(telegramOf(filler00), (Bytes{0x02, 0xC1, 0x60, 0xF0, 0x01, 0, 0, 0, 0, 0xDE, 0x10, 0x00, 0x03}));

    CMelkoFrame progMode;
    action.buildProgModeMsg(&progMode, static_cast<char>(0xFF), false);
    EXPECT_EQ(telegramOf(progMode), (Bytes{0x02, 0xFF, 0x08, 0xF0, 0x09, 0x03}));
}

TEST(BusTelegram, DecodingStaysInsideTheBlock) {
    CMelkoParser parser;
    char stuffed[] = {0x02, static_cast<char>(0xC1), 0x10, 0x10, 0x10, 0x03, 0x20, 0x03};
    EXPECT_EQ(parser.removeDLE(stuffed, sizeof(stuffed)), 5);
    EXPECT_EQ(Bytes(stuffed, stuffed + 5), (Bytes{0x02, 0xC1, 0x10, 0x03, 0x20}));

    // Sums of 0xF3 pass, every other non-zero sum fails.
    const char sumF3[] = {0x02, static_cast<char>(0xF3), 0x03};
    const char sum01[] = {0x02, 0x01, 0x03};
    EXPECT_TRUE(parser.checkCRC(sumF3, 3));
    EXPECT_FALSE(parser.checkCRC(sum01, 3));

    // Replies that must fail without touching the telegram: no ETX in the
    // block (the bytes after it are not looked at), a lone DLE at the end,
    // a bad checksum, fewer than 5 bytes, an empty block.
    const Bytes bad[] = {{0x02, 0xF0, 0x02, 0xC1, 0x4D},
                         {0x02, 0xF0, 0x02, 0xC1, 0x4D, 0x10},
                         {0x02, 0xF0, 0x02, 0xC1, 0x00, 0x4E, 0x03},
                         {0x02, 0x00, 0x03},
                         {}};
    for (const Bytes& telegram : bad) {
        CMelkoFrame frame = frameHolding(telegram);
        CMelkoTele tele;
        tele.setSource(0x11);
        EXPECT_EQ(parser.getTele(&frame, &tele), -1) << telegram.size();
        EXPECT_EQ(tele.getSource(), 0x11);
        EXPECT_EQ(tele.getInfoSize(), 0);
    }

    CMelkoFrame reply = frameHolding({0x02, 0xF0, 0x02, 0xC1, 0x00, 0x4D, 0x03, 0x77});
    CMelkoTele tele;
    EXPECT_EQ(parser.getTele(&reply, &tele), 1);
    EXPECT_EQ(static_cast<unsigned char>(tele.getSource()), 0xC1);
}

TEST(BusFrame, HeaderLengthAndCapacity) {
    CMelkoFrame frame;
    const char header[] = {0x01, 0x01, 0x0B, 0x00};
    frame.setHeader(header);
    EXPECT_EQ(frame.getDataLength(), 11);
    const char negative[] = {0x01, 0x01, 0x00, static_cast<char>(0x80)};
    frame.setHeader(negative);
    EXPECT_LT(frame.getDataLength(), 0);
    EXPECT_FALSE(frame.getBuffer(nullptr));

    std::vector<char> tooLarge(521, 0x55);
    CMelkoFrame full = frameHolding({1, 2, 3});
    EXPECT_FALSE(full.setData(tooLarge.data(), tooLarge.size()));
    EXPECT_EQ(wireOf(full), (Bytes{0x01, 0x00, 0x03, 0x00, 1, 2, 3}));
    const Bytes wide = wireOf(frameHolding(Bytes(300, 0x10)));
    EXPECT_EQ(Bytes(wide.begin(), wide.begin() + 4), (Bytes{0x01, 0x00, 0x2C, 0x01})) << "a length above 255";

    CMelkoTele tele;
    std::vector<char> block(62990, 0x11);
    tele.appendInfoBytes(block.data(), 62990);
    tele.appendInfoBytes(block.data(), 10);
    EXPECT_EQ(tele.getInfoSize(), 62990);
    tele.appendInfoBytes(block.data(), 9);
    EXPECT_EQ(tele.getInfoSize(), 62999);
}
