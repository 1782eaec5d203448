#include "inspect/FlatJson.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace inspecttest {

namespace {

class Parser {
public:
    explicit Parser(const std::string& text) : m_text(text) {}

    bool document(std::map<std::string, std::string>* flat) {
        m_flat = flat;
        return value("") && (skipSpace(), m_at == m_text.size());
    }

private:
    void skipSpace() {
        while (m_at < m_text.size() && strchr(" \t\r\n", m_text[m_at]) != nullptr) {
            ++m_at;
        }
    }
    bool take(char expected) {
        skipSpace();
        if (m_at < m_text.size() && m_text[m_at] == expected) {
            ++m_at;
            return true;
        }
        return false;
    }
    bool value(const std::string& path) {
        skipSpace();
        if (m_at >= m_text.size()) {
            return false;
        }
        const char next = m_text[m_at];
        if (next == '{' || next == '[') {
            return container(path, next == '{');
        }
        std::string scalar;
        if (next == '"' ? !string(&scalar) : !literal(&scalar)) {
            return false;
        }
        (*m_flat)[path] = scalar;
        return true;
    }
    bool container(const std::string& path, bool object) {
        ++m_at;
        const char close = object ? '}' : ']';
        if (take(close)) {
            (*m_flat)[path] = object ? "{}" : "[]";
            return true;
        }
        for (int index = 0;; ++index) {
            std::string name;
            if (object && !(skipSpace(), string(&name) && take(':'))) {
                return false;
            }
            const std::string inner = object ? (path.empty() ? name : path + "." + name)
                                             : path + "[" + std::to_string(index) + "]";
            if (!value(inner)) {
                return false;
            }
            if (take(close)) {
                return true;
            }
            if (!take(',')) {
                return false;
            }
        }
    }
    bool string(std::string* out) {
        if (m_at >= m_text.size() || m_text[m_at++] != '"') {
            return false;
        }
        while (m_at < m_text.size()) {
            const unsigned char byte = static_cast<unsigned char>(m_text[m_at++]);
            if (byte == '"') {
                return true;
            }
            if (byte < 0x20) {
                return false;
            }
            if (byte != '\\') {
                *out += static_cast<char>(byte);
            } else if (!escape(out)) {
                return false;
            }
        }
        return false;
    }
    // Code points below U+0800 are all the inspector escapes.
    bool escape(std::string* out) {
        if (m_at >= m_text.size()) {
            return false;
        }
        const char kind = m_text[m_at++];
        const char* plain = strchr("\"\\/bfnrt", kind);
        if (plain != nullptr && kind != '\0') {
            *out += "\"\\/\b\f\n\r\t"[plain - "\"\\/bfnrt"];
            return true;
        }
        if (kind != 'u' || m_at + 4 > m_text.size()) {
            return false;
        }
        const long code = strtol(m_text.substr(m_at, 4).c_str(), nullptr, 16);
        m_at += 4;
        if (code < 0x80) {
            *out += static_cast<char>(code);
        } else {
            *out += static_cast<char>(0xC0 | (code >> 6));
            *out += static_cast<char>(0x80 | (code & 0x3F));
        }
        return code < 0x800;
    }
    bool literal(std::string* out) {
        const size_t start = m_at;
        while (m_at < m_text.size() &&
               strchr("0123456789+-.eEtruefalsn", m_text[m_at]) != nullptr) {
            ++m_at;
        }
        *out = m_text.substr(start, m_at - start);
        if (*out == "true" || *out == "false" || *out == "null") {
            return true;
        }
        char* end = nullptr;
        strtod(out->c_str(), &end);
        return !out->empty() && *end == '\0' && ((*out)[0] == '-' || isdigit((*out)[0]));
    }

    const std::string& m_text;
    size_t m_at = 0;
    std::map<std::string, std::string>* m_flat = nullptr;
};

} // namespace

std::optional<std::map<std::string, std::string>> flattenJson(const std::string& text) {
    std::map<std::string, std::string> flat;
    if (!Parser(text).document(&flat)) {
        return std::nullopt;
    }
    return flat;
}

} // namespace inspecttest
