#include "store/Property.h"

#include "StoreTestSupport.h"

using storetest::bytes;
using storetest::readBytes;
using storetest::TempDir;
using storetest::writeBytes;

TEST(StoreProperty, ReadsOddLinesAndWritesExactBytes) {
    TempDir dir;
    const std::string path = dir.path("backup.txt");
    writeBytes(path, bytes("Key = Value\r\na=b=c\n=lead\nempty=\nblank=  \t \n   =x\n\n"
                           "no equals sign\npad=YQ==\nKey=second\n\x80k\t=\tv\x01\n"
                           "nul\0key=v\0x\nlast=line"));
    CProperty property(path);
    std::string value;
    ASSERT_TRUE(property.getProperty("Key", &value));
    EXPECT_EQ(value, "second");
    for (const char* skipped : {"", "empty", "blank", "no equals sign"}) {
        EXPECT_FALSE(property.keyExists(skipped)) << skipped;
    }
    property.store(); // unchanged: nothing written
    EXPECT_EQ(readBytes(path).substr(0, 13), "Key = Value\r\n");

    property.setProperty("Key", "third");
    property.store();
    // First line's position, last line's value; trimmed, in listing order.
    EXPECT_EQ(readBytes(path), bytes("Key=third\na=b=c\npad=YQ==\n\x80k=v\nnul\0key=v\0x\n"
                                     "last=line\n\n"));
}

TEST(StoreProperty, OpenAndWriteFailuresLogAndThrow19) {
    TempDir dir;
    const std::string path = dir.path("later.txt");
    storetest::ErrorCapture errors;
    CProperty property(path);
    std::string value;
    try {
        property.getProperty("a", &value);
        ADD_FAILURE() << "no error for a missing file";
    } catch (int code) {
        EXPECT_EQ(code, 19);
    }
    EXPECT_TRUE(property.isEmpty());
    writeBytes(path, "a=1\n");
    EXPECT_TRUE(property.getProperty("a", &value)); // the failed read is retried
    EXPECT_EQ(value, "1");

    // A directory is no backup file; a full disk must not pass as written.
    CProperty directory(dir.path(""));
    EXPECT_THROW(directory.keyExists("a"), int);
    CProperty full("/dev/full");
    full.setProperty("a", "1");
    EXPECT_THROW(full.store(), int);
    EXPECT_TRUE(full.isChanged());
    {
        CProperty unreachable(dir.path("missing/backup.txt"));
        unreachable.setProperty("a", "1");
    } // its destructor logs and swallows the failed store
    const std::string line = "Could not open backup file.\n";
    EXPECT_EQ(errors.text(), line + line + line + line);
}

TEST(StoreProperty, LoadsHundredThousandAscendingKeysInOrder) {
    TempDir dir;
    std::string text;
    for (int i = 100000; i < 200000; ++i) {
        text += "k" + std::to_string(i) + "=" + std::to_string(i) + "\n";
    }
    writeBytes(dir.path("large.txt"), text);
    CProperty property(dir.path("large.txt"));
    ASSERT_TRUE(property.keyExists("k100000"));
    property.setProperty("k100000", "100000"); // changed, so store writes
    property.setWriteFileName(dir.path("copy.txt"));
    property.store();
    EXPECT_EQ(readBytes(dir.path("copy.txt")), text + "\n");
}
