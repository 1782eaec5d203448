#include "store/FileManager.h"

#include "StoreTestSupport.h"

#include <chrono>
#include <climits>
#include <filesystem>

using testsupport::readFile;
namespace fs = std::filesystem;

namespace {

const char* const kOld = "Old.Data=AQIDBAU=\nF=2.5e1x\nMinusOne=4294967295\n\n";

class StoreFileManager : public ::testing::Test {
protected:
    StoreFileManager() { testsupport::writeFile(target, kOld); }
    ~StoreFileManager() override { CFileManager::Destroy(); }
    long filesInDir() const { return std::distance(fs::directory_iterator(dir.path()), {}); }

    testsupport::TempDir dir;
    const std::string target = dir.file("backup.txt");
    storetest::ErrorCapture errors;
    CFileManager* files = CFileManager::getInstance();
};

} // namespace

TEST_F(StoreFileManager, FailedRunKeepsTargetSuccessfulRunReplacesIt) {
    fs::permissions(target, fs::perms(0640));
    files->setFileName(target);
    ASSERT_TRUE(files->pathExists(target)); // a run without data leaves nothing behind
    EXPECT_TRUE(files->finishBackup(false));
    ASSERT_TRUE(files->pathExists(target));
    char block[] = {1, 2, 3, 4, 5};
    EXPECT_TRUE(files->writeData("A.Data", block, 5));
    files->writeData("A.DataLength", -1); // reaches the disk at the end of the run
    CFileManager::Destroy();              // a run still pending at the end counts as failed
    files = CFileManager::getInstance();
    EXPECT_EQ(readFile(target), kOld);
    EXPECT_EQ(fs::status(target).permissions(), fs::perms(0640));
    EXPECT_EQ(readFile(target + ".partial"), "A.Data=AQIDBAU=\nA.DataLength=4294967295\n\n");
    EXPECT_EQ(fs::status(target + ".partial").permissions(), fs::perms(0600));
    EXPECT_EQ(errors.text(), "Partial backup kept in " + target + ".partial\n");

    files->setFileName(target);
    ASSERT_TRUE(files->pathExists(target));
    EXPECT_FALSE(files->hasKey("Old.Data")); // the old backup is not merged in
    files->writeData("B.Data", block, 1);
    EXPECT_TRUE(files->finishBackup(true));
    EXPECT_EQ(readFile(target), "B.Data=AQ==\n\n");
    EXPECT_EQ(fs::status(target).permissions(), fs::perms(0600));
    EXPECT_EQ(filesInDir(), 2); // the target and the .partial, no temporary file
}

TEST_F(StoreFileManager, RestoreReadDecodesAndLeavesReadOnlyFileUntouched) {
    const auto mtime = fs::last_write_time(target) - std::chrono::hours(1);
    fs::last_write_time(target, mtime);
    fs::permissions(target, fs::perms(0400));
    files->setFileName(target);
    EXPECT_FLOAT_EQ(files->getDataFloat("F"), 25.0f);
    EXPECT_EQ(files->getDataDWord("MinusOne"), INT_MAX);
    char buffer[6] = "-----";
    EXPECT_TRUE(files->getData("Old.Data", buffer, 3)); // cut at the maximum
    EXPECT_EQ(std::string(buffer), "\1\2\3--");
    unsigned long size = 0;
    EXPECT_TRUE(files->getDataSize("Old.Data", &size));
    EXPECT_EQ(size, 5u);
    CFileManager::Destroy();
    EXPECT_EQ(fs::last_write_time(target), mtime);
    EXPECT_EQ(readFile(target), kOld);
    EXPECT_EQ(filesInDir(), 1);
}
