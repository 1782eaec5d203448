#include "base/Logger.h"

#include <gtest/gtest.h>

#include <iostream>
#include <string>

namespace {

// An output that refuses every byte while broken, like a pipe whose reader
// has gone, and takes them once mended.
class MendableOutput : public std::streambuf {
public:
    bool broken = true;
    std::string text;

protected:
    int_type overflow(int_type byte) override {
        if (broken || traits_type::eq_int_type(byte, traits_type::eof())) {
            return traits_type::eof();
        }
        text += traits_type::to_char_type(byte);
        return byte;
    }
};

} // namespace

TEST(Logger, LineThatCannotBeWrittenIsLostAlone) {
    CLogger* logger = CLogger::getInstance();
    logger->setLevel(2);
    for (int level : {1, 2}) {
        std::ostream& stream = level == 1 ? std::cerr : std::cout;
        MendableOutput output;
        std::streambuf* saved = stream.rdbuf(&output);
        EXPECT_NO_THROW(logger->log("lost", level));
        output.broken = false;
        logger->log("kept", level);
        stream.rdbuf(saved);
        EXPECT_EQ(output.text, "kept\n") << "level " << level;
    }
    logger->setLevel(1);
}
