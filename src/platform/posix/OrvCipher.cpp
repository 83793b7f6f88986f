// OpenSSL's EVP interface and random generator.
#include "platform/OrvCipher.h"

#include <memory>

#include <openssl/evp.h>
#include <openssl/rand.h>

namespace {

struct CipherContextFree {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

const EVP_CIPHER* PickCipher(uint32_t keyBits, bool ecb)
{
    switch (keyBits) {
    case 128:
        return ecb ? EVP_aes_128_ecb() : EVP_aes_128_cbc();
    case 192:
        return ecb ? EVP_aes_192_ecb() : EVP_aes_192_cbc();
    case 256:
        return ecb ? EVP_aes_256_ecb() : EVP_aes_256_cbc();
    default:
        return nullptr;
    }
}

}  // namespace

int OrvAesRun(uint32_t keyBits, bool ecb, const unsigned char* key, const unsigned char* iv, bool encrypt,
              const unsigned char* in, int inLength, unsigned char* out, int* outLength)
{
    CipherContext context(EVP_CIPHER_CTX_new());
    if (!context) {
        return kOrvCipherNoMemory;
    }
    // The padding switch needs a cipher in the context (OpenSSL 3 refuses it before), so init comes first.
    if (EVP_CipherInit_ex(context.get(), PickCipher(keyBits, ecb), nullptr, key, iv, encrypt ? 1 : 0) != 1) {
        return kOrvCipherInitFailed;
    }
    if (EVP_CIPHER_CTX_set_padding(context.get(), 1) != 1) {
        return kOrvCipherModeFailed;
    }
    int updateLength = 0;
    if (EVP_CipherUpdate(context.get(), out, &updateLength, in, inLength) != 1) {
        return kOrvCipherUpdateFailed;
    }
    int finalLength = 0;
    if (EVP_CipherFinal_ex(context.get(), out + updateLength, &finalLength) != 1) {
        return kOrvCipherFinalFailed;
    }
    *outLength = updateLength + finalLength;
    return 0;
}

bool OrvRandomBytes(unsigned char* buffer, size_t length)
{
    return length <= static_cast<size_t>(INT32_MAX) && RAND_bytes(buffer, static_cast<int>(length)) == 1;
}
