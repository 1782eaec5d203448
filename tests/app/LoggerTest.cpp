#include "app/Logger.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace {

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

} // namespace

TEST(AppLogger, LevelsChooseStreamsAndFilter) {
    std::stringstream out;
    std::stringstream err;
    std::streambuf* oldOut = std::cout.rdbuf(out.rdbuf());
    std::streambuf* oldErr = std::cerr.rdbuf(err.rdbuf());
    CLogger::Destroy();
    CLogger* logger = CLogger::getInstance();
    logger->log("error one", 1);
    logger->log("hidden detail", 2);
    logger->setLevel(3);
    logger->log("phase", 3);
    logger->log("detail", 4);
    logger->setLevel(0);
    logger->log("silenced error", 1);
    CLogger::Destroy();
    std::cout.rdbuf(oldOut);
    std::cerr.rdbuf(oldErr);
    EXPECT_EQ(err.str(), "error one\n");
    EXPECT_EQ(out.str(), "phase\n");
}

TEST(AppLogger, LogFileIsAppendedAndStreamsComeBack) {
    char dir[] = "/tmp/tursa-logger-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/run.log";
    {
        std::ofstream earlier(path);
        earlier << "earlier run\n";
    }
    std::stringstream console;
    std::streambuf* oldOut = std::cout.rdbuf(console.rdbuf());
    std::streambuf* oldErr = std::cerr.rdbuf(console.rdbuf());
    CLogger::Destroy();
    CLogger* logger = CLogger::getInstance();
    logger->setLevel(4);
    logger->setFileName(path);
    EXPECT_EQ(logger->getFileName(), path);
    logger->log("an error", 1);
    logger->log("a detail", 4);
    CLogger::Destroy();
    std::cout << "back on the console" << std::endl;
    CLogger::getInstance()->log("fresh logger at level 1", 2);
    CLogger::Destroy();
    std::cout.rdbuf(oldOut);
    std::cerr.rdbuf(oldErr);
    EXPECT_EQ(readAll(path), "earlier run\nan error\na detail\n");
    EXPECT_EQ(console.str(), "back on the console\n");
    std::remove(path.c_str());
    rmdir(dir);
}
