#pragma once

// Base64 with the standard alphabet and '=' padding. The encoder never
// breaks lines; the decoder skips every byte outside the alphabet, accepts
// missing padding and stores at most a given number of bytes.
class CBase64 {
public:
    CBase64() = default;
    virtual ~CBase64() = default;

    void encode(const char* input, char* output, unsigned int inputLength, unsigned int outputSize,
                int lineLength);
    void decode(const char* input, char* output, unsigned int textLength, unsigned int maxBytes);

    // The number of bytes that decode() would produce from the text when
    // not limited, computed without decoding.
    static unsigned long decodedSize(const char* input, unsigned long textLength);

    // True when the text is Base64 as encode() writes it: whole groups of
    // four alphabet characters, the last one padded with at most two '='.
    // decode() is more tolerant; this tells a damaged value from a sound one.
    static bool isValid(const char* input, unsigned long textLength);

    void encodeBlock(unsigned char* in, unsigned char* out, int length);
    void decodeBlock(unsigned char* in, unsigned char* out);
};
