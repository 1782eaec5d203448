// The backup file's Base64 codec: a decode never stores more than its
// limit, decodedSize() predicts the unlimited decode exactly, a limited
// decode is a prefix of the unlimited one, and a text isValid() accepts is
// exactly what encode() makes of its bytes.
#include "FuzzCheck.h"
#include "store/Base64.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace {

[[noreturn]] void fail(const char* what) {
    fuzzcheck::fail("base64", what);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    // The first two bytes give the limit, the rest is the text.
    const unsigned int limit = static_cast<unsigned int>(data[0] | data[1] << 8);
    const std::string text(reinterpret_cast<const char*>(data) + 2, size - 2);
    const unsigned int textLength = static_cast<unsigned int>(text.size());
    CBase64 codec;

    // Unlimited, into exactly decodedSize() bytes: more is a heap overflow;
    // fewer shows as a difference between two differently filled buffers.
    const unsigned long full = CBase64::decodedSize(text.data(), text.size());
    std::unique_ptr<char[]> zeros(new char[full]);
    std::unique_ptr<char[]> ones(new char[full]);
    memset(zeros.get(), 0x00, full);
    memset(ones.get(), 0xFF, full);
    codec.decode(text.data(), zeros.get(), textLength, UINT32_MAX);
    codec.decode(text.data(), ones.get(), textLength, UINT32_MAX);
    if (memcmp(zeros.get(), ones.get(), full) != 0) {
        fail("decode produced fewer bytes than decodedSize()");
    }

    // Limited, into exactly the limit.
    std::unique_ptr<char[]> limited(new char[limit]);
    memset(limited.get(), 0x5A, limit);
    codec.decode(text.data(), limited.get(), textLength, limit);
    const unsigned long kept = limit < full ? limit : full;
    if (memcmp(limited.get(), zeros.get(), kept) != 0) {
        fail("a limited decode is not a prefix of the unlimited one");
    }
    for (unsigned long i = kept; i < limit; ++i) {
        if (limited[i] != 0x5A) {
            fail("decode wrote past the bytes it produced");
        }
    }

    if (CBase64::isValid(text.data(), text.size())) {
        std::string again((full + 2) / 3 * 4 + 1, '#');
        codec.encode(zeros.get(), &again[0], static_cast<unsigned int>(full),
                     static_cast<unsigned int>(again.size()), 64);
        if (again.back() != '\0' || again.substr(0, again.size() - 1) != text) {
            fail("isValid() accepted a text that encode() does not give back");
        }
    }
    return 0;
}
