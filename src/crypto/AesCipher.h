// AES through the system's cryptography; built afresh for each call, it keeps no state between calls.
#ifndef PELLAX_CRYPTO_AES_CIPHER_H
#define PELLAX_CRYPTO_AES_CIPHER_H

#include <cstdint>

namespace ORV {
namespace PELLAX {

class CAesCipher {
public:
    static constexpr uint32_t kModeCbc = 0;
    static constexpr uint32_t kModeEcb = 1;

    // Key size (128, 192 or 256 bits) and mode pick the cipher; with other sizes Run fails (-9).
    CAesCipher(uint32_t nKeyBits, uint32_t nMode);

    // Copies the key size's worth of bytes.
    void SetKey(const unsigned char* key);
    void SetIv(const unsigned char* iv);

    // PKCS#7-padded, whole input in one update. out needs room for inLength + 16 when encrypting and
    // inLength when decrypting. 0, or -5 (no context), -9 init, -10 padding, -11 update, -12 final.
    int Run(bool bEncrypt, const unsigned char* in, int inLength, unsigned char* out, int* outLength) const;

private:
    uint32_t m_nKeyBits;
    uint32_t m_nMode;
    unsigned char m_key[32] = {};
    unsigned char m_iv[16] = {};
};

}  // namespace PELLAX
}  // namespace ORV

#endif
