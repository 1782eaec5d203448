#include "inspect/JsonText.h"

namespace {

bool isContinuation(unsigned char byte, unsigned char low = 0x80, unsigned char high = 0xBF) {
    return byte >= low && byte <= high;
}

// The length of the well-formed UTF-8 sequence at the position (RFC 3629:
// no overlong forms, no surrogates, nothing above U+10FFFF); 0 when the
// bytes there form none.
size_t utf8Length(const std::string& text, size_t at) {
    auto byte = [&](size_t i) {
        return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0;
    };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return 1;
    }
    if (lead >= 0xC2 && lead <= 0xDF) {
        return isContinuation(byte(1)) ? 2 : 0;
    }
    if (lead >= 0xE0 && lead <= 0xEF) {
        const unsigned char low = lead == 0xE0 ? 0xA0 : 0x80;
        const unsigned char high = lead == 0xED ? 0x9F : 0xBF;
        return isContinuation(byte(1), low, high) && isContinuation(byte(2)) ? 3 : 0;
    }
    if (lead >= 0xF0 && lead <= 0xF4) {
        const unsigned char low = lead == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = lead == 0xF4 ? 0x8F : 0xBF;
        return isContinuation(byte(1), low, high) && isContinuation(byte(2)) &&
                       isContinuation(byte(3))
                   ? 4
                   : 0;
    }
    return 0;
}

} // namespace

Json CJsonText::string(const std::string& bytes) {
    std::string text;
    for (size_t i = 0; i < bytes.size();) {
        const size_t length = utf8Length(bytes, i);
        if (length > 0) {
            text.append(bytes, i, length);
            i += length;
            continue;
        }
        const unsigned char byte = static_cast<unsigned char>(bytes[i++]);
        text += static_cast<char>(0xC0 | (byte >> 6));
        text += static_cast<char>(0x80 | (byte & 0x3F));
    }
    return text;
}

std::string CJsonText::line(const Json& value) {
    // Every string went through string(); replacing is a backstop only.
    return value.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
}
