#include "store/FileManager.h"

#include "StoreTestSupport.h"

#include <climits>
#include <fcntl.h>

using storetest::readBytes;

namespace {

const char* const kOld = "Old.Data=AQID\n\n";
const char* const kCollected = "A.Data=AQIDBAU=\nB.Data=AQ==\nA.DataLength=5\n\n";

class StoreFileManager : public ::testing::Test {
protected:
    StoreFileManager() : target(dir.path("backup.txt")) {
        storetest::writeBytes(target, kOld);
        chmod(target.c_str(), 0640);
    }
    ~StoreFileManager() override { CFileManager::Destroy(); }

    // A backup run up to its end: two blocks and a number after them.
    CFileManager* collect() {
        CFileManager* files = CFileManager::getInstance();
        files->setFileName(target);
        EXPECT_TRUE(files->pathExists(target));
        char block[] = {1, 2, 3, 4, 5};
        EXPECT_TRUE(files->writeData("A.Data", block, 5));
        EXPECT_TRUE(files->writeData("B.Data", block, 1));
        files->writeData("A.DataLength", 5);
        EXPECT_EQ(readBytes(target), kOld);
        return files;
    }

    storetest::TempDir dir;
    storetest::ErrorCapture errors;
    std::string target;
};

} // namespace

TEST_F(StoreFileManager, EncodingsOfNumbersAndBlocks) {
    CFileManager* files = CFileManager::getInstance();
    char block[] = {1, 2, 3, 4, 5};
    char buffer[6] = "-----";
    unsigned long size = 0;
    EXPECT_FALSE(files->writeData("A", block, 5)); // no file set yet
    EXPECT_FALSE(files->getDataSize("A", &size));

    files->setFileName(target);
    files->writeData("Zero", 0);
    files->writeData("MinusOne", -1);
    EXPECT_TRUE(files->writeData("Block", block, 5));
    EXPECT_EQ(readBytes(target), "Zero=0\nMinusOne=4294967295\nBlock=AQIDBAU=\n\n");
    files->writeData("After", 3); // memory only until the manager goes
    EXPECT_EQ(files->getDataDWord("MinusOne"), INT_MAX);
    EXPECT_FLOAT_EQ(files->getDataFloat("After"), 3.0f);
    EXPECT_EQ(files->getDataFloat("Absent"), 0.0f);
    EXPECT_TRUE(files->getData("Block", buffer, 3)); // cut at the maximum
    EXPECT_EQ(std::string(buffer), "\1\2\3--");
    EXPECT_TRUE(files->getDataSize("Block", &size));
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(readBytes(target).find("After"), std::string::npos);
    CFileManager::Destroy();
    EXPECT_NE(readBytes(target).find("\nAfter=3\n"), std::string::npos);

    storetest::writeBytes(target, "Big=99999999999\nSmall=-99999999999\nNeg= -12x\nF=2.5e1x\n");
    files = CFileManager::getInstance();
    files->setFileName(target);
    EXPECT_EQ(files->getDataDWord("Big"), INT_MAX);
    EXPECT_EQ(files->getDataDWord("Small"), INT_MIN);
    EXPECT_EQ(files->getDataDWord("Neg"), -12);
    EXPECT_FLOAT_EQ(files->getDataFloat("F"), 25.0f);
    EXPECT_EQ(errors.text(), "");
}

TEST_F(StoreFileManager, FailedRunKeepsTargetAndLeavesPartial) {
    const std::string partial = "Partial backup kept in " + target + ".partial\n";
    EXPECT_TRUE(collect()->finishBackup(false));
    EXPECT_EQ(errors.text(), partial);
    CFileManager::Destroy();
    EXPECT_EQ(readBytes(target + ".partial"), kCollected);
    EXPECT_EQ(storetest::modeOf(target + ".partial"), 0600u);
    storetest::fs::remove(target + ".partial");
    collect(); // a run still pending at the end counts as failed
    CFileManager::Destroy();
    EXPECT_EQ(errors.text(), partial + partial);
    EXPECT_EQ(readBytes(target), kOld);
    EXPECT_EQ(storetest::modeOf(target), 0640u);
    EXPECT_EQ(readBytes(target + ".partial"), kCollected);
    EXPECT_EQ(dir.names(), (std::set<std::string>{"backup.txt", "backup.txt.partial"}));
}

TEST_F(StoreFileManager, SuccessfulRunReplacesTarget) {
    CFileManager* files = CFileManager::getInstance();
    ASSERT_TRUE(files->pathExists(target));
    files->setFileName(target);              // the redirection applies to a later file too
    EXPECT_FALSE(files->hasKey("Old.Data")); // the old backup is not merged in
    char block[] = {1};
    files->writeData("B.Data", block, 1);
    EXPECT_EQ(readBytes(target), kOld);
    EXPECT_TRUE(files->finishBackup(true));
    EXPECT_EQ(readBytes(target), "B.Data=AQ==\n\n");
    EXPECT_EQ(storetest::modeOf(target), 0600u);
    EXPECT_EQ(dir.names(), std::set<std::string>{"backup.txt"});
    EXPECT_EQ(errors.text(), "");
}

TEST_F(StoreFileManager, RunWithoutDataLeavesNothingBehind) {
    CFileManager* files = CFileManager::getInstance();
    files->setFileName(target);
    ASSERT_TRUE(files->pathExists(target));
    EXPECT_TRUE(files->finishBackup(false));
    ASSERT_TRUE(files->pathExists(target));
    EXPECT_TRUE(files->finishBackup(true));
    // Neither a directory nor a file in a missing directory can be a target.
    EXPECT_FALSE(files->pathExists(dir.path("")));
    EXPECT_FALSE(files->pathExists(dir.path("missing/backup.txt")));
    EXPECT_FALSE(files->fileExists(dir.path("absent.txt")));
    CFileManager::Destroy();
    EXPECT_EQ(dir.names(), std::set<std::string>{"backup.txt"});
    EXPECT_EQ(readBytes(target), kOld);
    EXPECT_EQ(errors.text(), "");
}

TEST_F(StoreFileManager, UnwritableRunFileFailsWithoutTouchingTarget) {
    CFileManager* files = CFileManager::getInstance();
    files->setFileName(target);
    ASSERT_TRUE(files->pathExists(target));
    // A directory in place of the run's temporary file cannot be written.
    for (const std::string& name : dir.names()) {
        if (name != "backup.txt") {
            storetest::fs::remove(dir.path(name));
            storetest::fs::create_directory(dir.path(name));
        }
    }
    char block[] = {1};
    EXPECT_TRUE(files->writeData("A.Data", block, 1)); // the failed store is dropped
    EXPECT_FALSE(files->finishBackup(true));
    CFileManager::Destroy();
    EXPECT_EQ(readBytes(target), kOld);
    EXPECT_EQ(errors.text().substr(0, 56),
              "Could not open backup file.\nCould not open backup file.\n");
}

TEST_F(StoreFileManager, RestoreReadLeavesFileUntouched) {
    chmod(target.c_str(), 0400);
    const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, target.c_str(), old, 0), 0);
    CFileManager* files = CFileManager::getInstance();
    files->setFileName(target);
    ASSERT_TRUE(files->fileExists(target));
    EXPECT_TRUE(files->checkFile({"Old.Data"}));
    EXPECT_FALSE(files->checkFile({"Old.Data", "Missing"}));
    char buffer[3];
    EXPECT_TRUE(files->getData("Old.Data", buffer, 3));
    EXPECT_EQ(std::string(buffer, 3), "\1\2\3");
    CFileManager::Destroy();
    struct stat info;
    ASSERT_EQ(stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(readBytes(target), kOld);
    EXPECT_EQ(dir.names(), std::set<std::string>{"backup.txt"});
}
