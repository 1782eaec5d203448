#pragma once

#include <nlohmann/json.hpp>

#include <string>

// The inspector's JSON: members in the order they are set, one line.
using Json = nlohmann::ordered_json;

class CJsonText {
public:
    // A string value for any bytes, paths that are not UTF-8 too: a byte
    // that starts no well-formed UTF-8 sequence stands for the code point of
    // the same number, as in Latin-1.
    static Json string(const std::string& bytes);

    // The value on one line, without spaces, ending in a newline.
    static std::string line(const Json& value);
};
