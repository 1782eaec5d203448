#include "store/Base64.h"

#include "StoreTestSupport.h"

#include <random>

namespace {

std::string encoded(std::string input) {
    std::string text(input.size() * 2 + 8, 'X'); // the encoder must zero the rest
    CBase64().encode(&input[0], &text[0], input.size(), text.size(), 64);
    return text.c_str();
}

// Decodes into a buffer of '#', so that bytes beyond the maximum would show.
std::string decoded(const std::string& text, unsigned int maxBytes = 64) {
    std::string buffer(maxBytes + 4, '#');
    CBase64().decode(text.data(), &buffer[0], text.size(), maxBytes);
    EXPECT_EQ(buffer.substr(maxBytes), "####");
    std::string result = buffer.substr(0, buffer.find('#'));
    if (result.size() < maxBytes) {
        EXPECT_EQ(CBase64::decodedSize(text.data(), text.size()), result.size()) << text;
    }
    return result;
}

} // namespace

TEST(StoreBase64, RfcVectorsAndTolerantDecoding) {
    const std::vector<std::pair<std::string, std::string>> vectors = {{"", ""},
                                                                      {"f", "Zg=="},
                                                                      {"fo", "Zm8="},
                                                                      {"foo", "Zm9v"},
                                                                      {"foob", "Zm9vYg=="},
                                                                      {"fooba", "Zm9vYmE="},
                                                                      {"foobar", "Zm9vYmFy"},
                                                                      {"\xff", "/w=="}};
    for (const auto& vector : vectors) {
        EXPECT_EQ(encoded(vector.first), vector.second);
        EXPECT_EQ(decoded(vector.second), vector.first);
    }
    for (const char* text : {"YW Jj", "YWJj\n", "YW\nJj", "YW\r\nJj==", "YWJjY"}) {
        EXPECT_EQ(decoded(text), "abc") << text;
    }
    EXPECT_EQ(decoded("YQ"), "a");
    EXPECT_EQ(decoded("YQ==YQ=="), decoded("YQYQ"));
    EXPECT_EQ(decoded("YQ==YQ==").size(), 3u);
    EXPECT_EQ(decoded(std::string("\0\x80\xff-_.", 6)), "");
    EXPECT_EQ(decoded("YWJj", 2), "ab");
}

TEST(StoreBase64, AgreesWithCoreutilsOnRandomBlocks) {
    storetest::TempDir dir;
    const std::string path = dir.path("block");
    std::mt19937 random(77);
    for (int round = 0; round < 60; ++round) {
        std::string input(random() % 301, '\0');
        for (char& byte : input) {
            byte = static_cast<char>(random());
        }
        storetest::writeBytes(path, input);
        std::string expected;
        FILE* child = popen(("base64 -w0 " + path).c_str(), "r");
        ASSERT_NE(child, nullptr);
        for (int c; (c = fgetc(child)) != EOF;) {
            expected += static_cast<char>(c);
        }
        ASSERT_EQ(pclose(child), 0);
        std::string text = encoded(input);
        ASSERT_EQ(text, expected) << "length " << input.size();
        std::string back(input.size(), '\0');
        CBase64().decode(text.data(), &back[0], text.size(), back.size());
        EXPECT_EQ(back, input);
        EXPECT_EQ(CBase64::decodedSize(text.data(), text.size()), input.size());
    }
}
