#include "store/Property.h"

#include "StoreTestSupport.h"

using namespace std::string_literals;
using testsupport::readFile;
using testsupport::writeFile;

TEST(StoreProperty, OddLinesExactBytesWriteErrorAndLargeFile) {
    testsupport::TempDir dir;
    const std::string path = dir.file("backup.txt");
    writeFile(path, "Key = Value\r\na=b=c\n=lead\nempty=\nblank=  \t \n   =x\n\n"
                    "no equals sign\npad=YQ==\nKey=second\n\x80k\t=\tv\x01\n"
                    "nul\0key=v\0x\nlast=line"s);
    CProperty property(path);
    for (const char* skipped : {"", "empty", "blank", "no equals sign"}) {
        EXPECT_FALSE(property.keyExists(skipped)) << skipped;
    }
    property.setProperty("added", "1");
    property.store();
    // First line's position, last line's value; trimmed, in listing order.
    EXPECT_EQ(readFile(path),
              "Key=second\na=b=c\npad=YQ==\n\x80k=v\nnul\0key=v\0x\nlast=line\nadded=1\n\n"s);

    storetest::ErrorCapture errors;
    CProperty full("/dev/full"); // a full disk must not pass as written
    full.setProperty("a", "1");
    int code = 0;
    try {
        full.store();
    } catch (int thrown) {
        code = thrown;
    }
    EXPECT_EQ(code, 19);
    EXPECT_EQ(errors.text(), "Could not open backup file.\n");

    std::string text;
    for (int i = 100000; i < 200000; ++i) {
        text += "k" + std::to_string(i) + "=" + std::to_string(i) + "\n";
    }
    writeFile(dir.file("large.txt"), text); // 100,000 ascending keys: one long branch
    CProperty large(dir.file("large.txt"));
    ASSERT_TRUE(large.keyExists("k100000"));
    large.setProperty("k100000", "100000"); // changed, so store writes
    large.setWriteFileName(dir.file("copy.txt"));
    large.store();
    EXPECT_EQ(readFile(dir.file("copy.txt")), text + "\n");
}
