// Standard base64 ('+', '/', '=' padding, no line breaks) for the payload cipher text.
#ifndef PELLAX_CRYPTO_BASE64_H
#define PELLAX_CRYPTO_BASE64_H

#include <cstddef>

namespace ORV {
namespace PELLAX {

class CBase64 {
public:
    static constexpr size_t EncodedLength(size_t nBytes) { return (nBytes + 2) / 3 * 4; }

    // Writes exactly EncodedLength(length) characters, no NUL.
    static void Encode(const unsigned char* data, size_t length, char* text);

    // Reads at most length characters in groups of four; stops at the end, at a NUL or another
    // non-alphabet character opening a group, and after the first group with '='. out needs
    // length + 1 bytes: whole groups go out in 8-byte stores. Returns the decoded length, or -1 for a
    // malformed group.
    static int Decode(const char* text, int length, unsigned char* out);
};

}  // namespace PELLAX
}  // namespace ORV

#endif
