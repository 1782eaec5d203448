#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

// What every fuzz target needs: a failed property aborts (which libFuzzer
// counts as a crash), and inputs are handed on as heap copies of exactly
// their size, so that AddressSanitizer reports a read past them.
namespace fuzzcheck {

[[noreturn]] inline void fail(const char* target, const char* what) {
    fprintf(stderr, "%s: %s\n", target, what);
    abort();
}

inline std::unique_ptr<char[]> copyOf(const uint8_t* data, size_t count) {
    std::unique_ptr<char[]> copy(new char[count]);
    if (count > 0) {
        memcpy(copy.get(), data, count);
    }
    return copy;
}

} // namespace fuzzcheck
