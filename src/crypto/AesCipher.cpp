#include "crypto/AesCipher.h"

#include <cstring>

#include "platform/OrvCipher.h"

namespace ORV {
namespace PELLAX {

CAesCipher::CAesCipher(uint32_t nKeyBits, uint32_t nMode)
    : m_nKeyBits(nKeyBits), m_nMode(nMode)
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
    return OrvAesRun(m_nKeyBits, m_nMode == kModeEcb, m_key, m_iv, bEncrypt, in, inLength, out, outLength);
}

}  // namespace PELLAX
}  // namespace ORV
