#pragma once

#include <string>

// One self-erasing progress line on the error stream, for a person at a
// terminal during the long waits and the template transfers. It appears
// only when the error stream is a terminal, no log file is set and the
// verbosity is at least 1, so logs, pipes and scripts see exactly the
// tool's own lines.
class CProgress {
public:
    static bool isEnabled();
    // Replaces the line with this text.
    static void show(const std::string& text);
    // Erases the line, if one stands; the logger calls it before every line.
    static void clear();

private:
    static bool m_shown;
};
