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

TEST(ControllerFrame, EncodesAndParsesHeaders) {
    // Frames encode to their wire form, which (with stray bytes after it) parses back: header-only
    // types neither send their block nor read length bytes. Lengths are unsigned little-endian.
    const std::string block(0x1C8, '\x5A');
    const struct {
        int type, id;
        std::string data, wire;
    } frames[] = {{1, 3, block, bytes({1, 1, 3, 0xC8, 0x01, 0, 0}) + block},
                  {1, 1, "", bytes({1, 1, 1, 0, 0, 0, 0})},
                  {7, 0, "xyz", bytes({1, 7, 0})},
                  {10, 1, "xyz", bytes({1, 10, 1})}};
    for (const auto& f : frames) {
        CFrame frame, parsed;
        frame.setSOH(1);
        frame.setType(static_cast<unsigned char>(f.type));
        frame.setDataId(static_cast<unsigned char>(f.id));
        frame.setData(f.data.data(), f.data.size());
        EXPECT_EQ(wireForm(frame), f.wire) << f.type;
        parsed.setHeader((f.wire + "\x55\x55\x55\x55").data());
        EXPECT_EQ(parsed.getType(), f.type);
        EXPECT_EQ(parsed.getDataId(), f.id);
        EXPECT_EQ(parsed.getDataLength(), f.wire.size() > 3 ? f.data.size() : 0) << f.type;
    }
    CFrame huge, password;
    huge.setHeader(bytes({1, 2, 1, 0xFE, 0xFF, 0xFF, 0xFF}).data());
    EXPECT_EQ(huge.getDataLength(), 0xFFFFFFFEUL);
    CDataAction().buildComparePassword(&password, "");
    EXPECT_EQ(wireForm(password),
              bytes({1, 9, 4, 1, 0, 0, 0, CDataAction::EMPTY_PASSWORD_PLACEHOLDER}));
}
