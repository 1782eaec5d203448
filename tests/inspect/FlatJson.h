#pragma once

#include <map>
#include <optional>
#include <string>

namespace inspecttest {

// Parses one JSON value strictly (RFC 8259 syntax, nothing after it) and
// flattens it to paths such as "modules[1].crc": strings unescaped into
// UTF-8, other scalars as written, empty containers as "{}" or "[]".
// Nothing when the text is not valid JSON.
std::optional<std::map<std::string, std::string>> flattenJson(const std::string& text);

} // namespace inspecttest
