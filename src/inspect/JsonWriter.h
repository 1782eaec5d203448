#pragma once

#include <string>
#include <vector>

// Builds one JSON text by hand, on one line: containers, members and values
// in the order written, with the commas in between. Strings are escaped so
// that any bytes, paths that are not UTF-8 too, give valid JSON.
class CJsonWriter {
public:
    void beginObject();
    void endObject();
    void beginArray();
    void endArray();
    // Names the next value of the current object.
    void key(const std::string& name);

    void string(const std::string& value);
    void number(long value);
    void boolean(bool value);
    void null();

    const std::string& text() const { return m_text; }

    // The value as a JSON string literal, quotes included.
    static std::string quote(const std::string& value);

private:
    void beforeValue();
    void open(char bracket);
    void close(char bracket);

    std::string m_text;
    // Per open container: whether it holds no entry yet.
    std::vector<bool> m_empty;
    bool m_afterKey = false;
};
