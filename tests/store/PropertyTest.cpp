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

    // The file is read once: an empty file replaced later is not read again.
    const std::string empty = dir.file("empty.txt");
    writeFile(empty, "");
    CProperty once(empty);
    EXPECT_FALSE(once.keyExists("Key"));
    writeFile(empty, "Key=later\n");
    EXPECT_FALSE(once.keyExists("Key"));

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

TEST(StoreProperty, DataSetSizedValueLoadsTrimmedAndStoresExactly) {
    // Larger than a write chunk and than a read chunk, so it is written from
    // the map and grown across reads.
    testsupport::TempDir dir;
    std::string value;
    for (int i = 0; value.size() < 300000; ++i) {
        value += static_cast<char>('A' + i % 26);
    }
    writeFile(dir.file("in.txt"), "first=1\nbig= \t" + value + " \r\nlast=2");
    CProperty property(dir.file("in.txt"));
    std::string loaded;
    ASSERT_TRUE(property.getProperty("big", &loaded));
    EXPECT_EQ(loaded, value);
    ASSERT_NE(property.findProperty("big"), nullptr);
    EXPECT_EQ(*property.findProperty("big"), value);
    EXPECT_EQ(property.findProperty("absent"), nullptr);
    property.setProperty("first", "3");
    property.setWriteFileName(dir.file("out.txt"));
    property.store();
    // Listing order: the root, then the keys above it, then those below.
    EXPECT_EQ(readFile(dir.file("out.txt")), "first=3\nlast=2\nbig=" + value + "\n\n");
}
