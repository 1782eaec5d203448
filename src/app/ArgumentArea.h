#pragma once

#include <cstddef>
#include <vector>

// The process's argument area, which other local users see through ps and
// /proc/PID/cmdline. Parts of it (a password) can be taken out so that
// neither their bytes nor their length stay visible.
class CArgumentArea {
public:
    // Records where the arguments lie before getopt reorders the pointers,
    // forgetting an earlier record.
    void record(int argc, char** argv);

    // Marks length bytes from begin (inside one argument) for removal; a
    // whole argument goes with its separator.
    void hide(char* begin, size_t length);

    // Writes the arguments back joined by spaces, without the hidden parts,
    // and zeroes the rest of the area. Its last byte is then set non-zero:
    // the kernel shows such an area only up to its first zero byte, so the
    // area's size, which would tell the password's length, stays unseen.
    // The argv pointers are stale afterwards.
    void rewrite();

private:
    struct Range {
        char* begin;
        size_t length;
    };

    bool isContiguous() const;
    bool isHidden(const char* byte) const;

    std::vector<char*> m_arguments;
    std::vector<Range> m_hidden;
};
