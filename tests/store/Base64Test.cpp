#include "store/Base64.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

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

TEST(StoreBase64, RfcVectorsTolerantDecodingAndLimit) {
    const char* rfc[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
    for (size_t length = 0; length < 7; ++length) {
        EXPECT_EQ(encoded(std::string("foobar", length)), rfc[length]);
        EXPECT_EQ(decoded(rfc[length]), std::string("foobar", length));
    }
    for (const char* text : {"YW Jj", "YWJj\n", "YW\nJj", "YW\r\nJj==", "YWJjY"}) {
        EXPECT_EQ(decoded(text), "abc") << text;
    }
    EXPECT_EQ(decoded("YQ"), "a");
    EXPECT_EQ(decoded("YQ==YQ=="), "a\x06\x10"); // padding inside is skipped
    EXPECT_EQ(decoded(std::string("\0\x80\xff-_.", 6)), "");
    EXPECT_EQ(decoded("YWJj", 2), "ab");
}

TEST(StoreBase64, IsValidAcceptsOnlyWhatTheEncoderWrites) {
    for (const char* text : {"Zg==", "Zm8=", "Zm9v", "Zm9vYmFy", "+/+/"}) {
        EXPECT_TRUE(CBase64::isValid(text, strlen(text))) << text;
    }
    for (const char* text :
         {"", "Zg", "Zm9vY", "Zg=", "Z===", "Zg==Zg==", "Zm 9", "Zm-_", "Zm9v\n"}) {
        EXPECT_FALSE(CBase64::isValid(text, strlen(text))) << text;
    }
}

// The bits a padded group does not carry must be zero: "Zm9vgY==" decodes
// to the same bytes as "Zm9vgQ==", which is the only text encode() writes.
TEST(StoreBase64, IsValidRefusesBitsBehindThePadding) {
    const std::string alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    for (size_t value = 0; value < alphabet.size(); ++value) {
        const std::string twoPadded = std::string("Zm9vg") + alphabet[value] + "==";
        const std::string onePadded = std::string("Zm9vZm") + alphabet[value] + "=";
        EXPECT_EQ(CBase64::isValid(twoPadded.data(), twoPadded.size()), value % 16 == 0)
            << twoPadded;
        EXPECT_EQ(CBase64::isValid(onePadded.data(), onePadded.size()), value % 4 == 0)
            << onePadded;
    }
}
