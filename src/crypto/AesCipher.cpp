#include "crypto/AesCipher.h"
#include "pellax.h"

#include <cstring>
#include <memory>

namespace ORV {
namespace PELLAX {

namespace {

struct CipherContextFree {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using CipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextFree>;

const EVP_CIPHER* PickCipher(uint32_t nKeyBits, uint32_t nMode)
{
    bool bEcb = nMode == CAesCipher::kModeEcb;
    switch (nKeyBits) {
    case 128:
        return bEcb ? EVP_aes_128_ecb() : EVP_aes_128_cbc();
    case 192:
        return bEcb ? EVP_aes_192_ecb() : EVP_aes_192_cbc();
    case 256:
        return bEcb ? EVP_aes_256_ecb() : EVP_aes_256_cbc();
    default:
        return nullptr;
    }
}

}  // namespace

CAesCipher::CAesCipher(uint32_t nKeyBits, uint32_t nMode)
    : m_nKeyBits(nKeyBits), m_nMode(nMode), m_pCipher(PickCipher(nKeyBits, nMode))
{
}

void CAesCipher::SetKey(const unsigned char* key)
{
    size_t size = m_nKeyBits / 8;
    std::memcpy(m_key, key, size < sizeof(m_key) ? size : sizeof(m_key));
}

void CAesCipher::SetIv(const unsigned char* iv)
{
    std::memcpy(m_iv, iv, sizeof(m_iv));
}

int CAesCipher::Run(bool bEncrypt, const unsigned char* in, int inLength, unsigned char* out, int* outLength) const
{
    CipherContext context(EVP_CIPHER_CTX_new());
    if (!context) {
        return PELLAX_CIPHER_E_NO_MEMORY;
    }
    // The padding switch needs a cipher in the context (OpenSSL 3 refuses it before), so init comes first.
    if (EVP_CipherInit_ex(context.get(), m_pCipher, nullptr, m_key, m_iv, bEncrypt ? 1 : 0) != 1) {
        return PELLAX_CIPHER_E_INIT;
    }
    if (EVP_CIPHER_CTX_set_padding(context.get(), 1) != 1) {
        return PELLAX_CIPHER_E_PADDING;
    }
    int updateLength = 0;
    if (EVP_CipherUpdate(context.get(), out, &updateLength, in, inLength) != 1) {
        return PELLAX_CIPHER_E_UPDATE;
    }
    int finalLength = 0;
    if (EVP_CipherFinal_ex(context.get(), out + updateLength, &finalLength) != 1) {
        return PELLAX_CIPHER_E_FINAL;
    }
    *outLength = updateLength + finalLength;
    return 0;
}

}  // namespace PELLAX
}  // namespace ORV
