#include "inspect/JsonWriter.h"

#include <cstdio>

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

std::string unicodeEscape(unsigned char byte) {
    char text[8];
    snprintf(text, sizeof(text), "\\u%04x", byte);
    return text;
}

} // namespace

void CJsonWriter::beginObject() {
    open('{');
}

void CJsonWriter::endObject() {
    close('}');
}

void CJsonWriter::beginArray() {
    open('[');
}

void CJsonWriter::endArray() {
    close(']');
}

void CJsonWriter::key(const std::string& name) {
    beforeValue();
    m_text += quote(name) + ":";
    m_afterKey = true;
}

void CJsonWriter::string(const std::string& value) {
    beforeValue();
    m_text += quote(value);
}

void CJsonWriter::number(long value) {
    beforeValue();
    m_text += std::to_string(value);
}

void CJsonWriter::boolean(bool value) {
    beforeValue();
    m_text += value ? "true" : "false";
}

void CJsonWriter::null() {
    beforeValue();
    m_text += "null";
}

// A byte that starts no well-formed UTF-8 sequence stands for the code
// point of the same number, as in Latin-1.
std::string CJsonWriter::quote(const std::string& value) {
    std::string text = "\"";
    for (size_t i = 0; i < value.size();) {
        const unsigned char byte = static_cast<unsigned char>(value[i]);
        const size_t length = utf8Length(value, i);
        if (byte == '"' || byte == '\\') {
            text += '\\';
            text += value[i];
        } else if (byte < 0x20 || byte == 0x7F || length == 0) {
            text += unicodeEscape(byte);
        } else {
            text.append(value, i, length);
            i += length;
            continue;
        }
        ++i;
    }
    return text + "\"";
}

void CJsonWriter::beforeValue() {
    if (m_afterKey) {
        m_afterKey = false;
        return;
    }
    if (!m_empty.empty()) {
        if (!m_empty.back()) {
            m_text += ',';
        }
        m_empty.back() = false;
    }
}

void CJsonWriter::open(char bracket) {
    beforeValue();
    m_text += bracket;
    m_empty.push_back(true);
}

void CJsonWriter::close(char bracket) {
    m_text += bracket;
    m_empty.pop_back();
}
