// The client's payload security: random data keys, and AES-128-ECB payloads as base64 text.
// Stateless; every call builds and frees its own cipher and buffers.
#ifndef PELLAX_CRYPTO_PAYLOAD_CIPHER_H
#define PELLAX_CRYPTO_PAYLOAD_CIPHER_H

namespace ORV {
namespace PELLAX {

class CPayloadCipher {
public:
    // Fills key[0..length-1] with random bytes. 0, or -4 (bad argument, no random bytes to be had).
    static int GetDataKey(char* key, int length);

    // Exactly 16 key bytes are read whatever keyLength says. *outLength is the capacity on entry and
    // the text length on success; the text needs one byte more than it fills and gets no NUL.
    static int Encrypt(const unsigned char* key, int keyLength, const unsigned char* data, int dataLength,
                       char* out, int* outLength);

    // out needs the decoded length of text (a NUL follows the plaintext). *outLength becomes the
    // plaintext length. -3 when text is not base64 or decodes to nothing.
    static int Decrypt(const unsigned char* key, int keyLength, const char* text, int textLength,
                       unsigned char* out, int* outLength);
};

}  // namespace PELLAX
}  // namespace ORV

#endif
