#include "controller/Frame.h"
#include "controller/DataAction.h"
#include "net/LoopbackPeer.h"

#include <gtest/gtest.h>

#include <vector>

using testpeer::bytes;

namespace {

std::string wireForm(const CFrame& frame) {
    std::vector<char> buffer(frame.getFrameSize());
    frame.getBuffer(buffer.data());
    return std::string(buffer.begin(), buffer.end());
}

} // namespace

TEST(ControllerFrame, RequestsHaveTheirWireForm) {
    CDataAction action;
    CFrame backup, version, close, restore, emptySet, password, emptyPassword, typeSeven;
    action.buildBackupMsg(&backup, 2);
    EXPECT_EQ(wireForm(backup), bytes({1, 0, 2}));
    action.buildGetVersionMsg(&version);
    EXPECT_EQ(wireForm(version), bytes({1, 7, 0}));
    close.setSOH(1);
    close.setType(3);
    EXPECT_EQ(wireForm(close), bytes({1, 3, 0}));

    std::string block(300, '\0');
    for (size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<char>(i);
    }
    action.buildRestoreMsg(&restore, 3, &block[0], block.size());
    EXPECT_EQ(wireForm(restore), bytes({1, 1, 3, 0x2C, 0x01, 0, 0}) + block);
    action.buildRestoreMsg(&emptySet, 1, nullptr, 0);
    EXPECT_EQ(wireForm(emptySet), bytes({1, 1, 1, 0, 0, 0, 0}));

    action.buildComparePassword(&password, "Abc");
    EXPECT_EQ(wireForm(password), bytes({1, 9, 4, 3, 0, 0, 0}) + "Abc");
    action.buildComparePassword(&emptyPassword, "");
    EXPECT_EQ(wireForm(emptyPassword),
              bytes({1, 9, 4, 1, 0, 0, 0, CDataAction::EMPTY_PASSWORD_PLACEHOLDER}));

    // A header-only type never sends a block it holds.
    typeSeven.setSOH(1);
    typeSeven.setType(7);
    typeSeven.setData("xyz", 3);
    EXPECT_EQ(wireForm(typeSeven), bytes({1, 7, 0}));
    for (int type = 0; type < 256; ++type) {
        bool headerOnly = type == 0 || type == 3 || type == 5 || type == 6 || type == 7 ||
                          type == 8 || type == 10;
        EXPECT_EQ(CFrame::isHeaderOnlyType(static_cast<unsigned char>(type)), headerOnly) << type;
    }
}

TEST(ControllerFrame, HeadersAreParsedAndDataCopiedSafely) {
    CFrame frame;
    char buffer[8] = {'u', 'n', 't', 'o', 'u', 'c', 'h', 'd'};
    unsigned long length = 77;
    frame.getData(buffer, &length);
    EXPECT_EQ(std::string(buffer, 8), "untouchd");
    EXPECT_EQ(length, 77UL);

    frame.setData("12345", 5);
    frame.setData("ab", 2); // replaces, never appends
    std::string version = bytes({1, 8, 0x6B, 0x55, 0x55, 0x55, 0x55});
    frame.setHeader(version.data());
    EXPECT_EQ(frame.getType(), 8);
    EXPECT_EQ(frame.getDataId(), 107);
    EXPECT_EQ(frame.getDataLength(), 0UL) << "a header-only type has no length bytes";

    std::string restore = bytes({0x7F, 1, 3, 0x10, 0, 0, 0});
    frame.setHeader(restore.data());
    EXPECT_EQ(frame.getSOH(), 0x7F);
    EXPECT_EQ(frame.getDataLength(), 16UL);
    // The frame still holds 2 bytes: no more are copied or sent.
    frame.getData(buffer, &length);
    EXPECT_EQ(length, 2UL);
    EXPECT_EQ(std::string(buffer, 8), "abtouchd");
    EXPECT_EQ(wireForm(frame), restore + "ab" + std::string(14, '\0'));

    std::string huge = bytes({1, 2, 1, 0xFE, 0xFF, 0xFF, 0xFF});
    frame.setHeader(huge.data());
    EXPECT_EQ(frame.getDataLength(), 0xFFFFFFFEUL);
}
