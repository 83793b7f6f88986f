// The system's CNG provider: AES with its block padding, which is PKCS#7, and the system RNG.
#include "platform/OrvCipher.h"

#include <windows.h>

#include <bcrypt.h>
#include <cstring>

namespace {

class CAlgorithm {
public:
    CAlgorithm() { m_bOpen = BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&m_handle, BCRYPT_AES_ALGORITHM, nullptr, 0)); }
    ~CAlgorithm()
    {
        if (m_bOpen) {
            BCryptCloseAlgorithmProvider(m_handle, 0);
        }
    }
    CAlgorithm(const CAlgorithm&) = delete;
    CAlgorithm& operator=(const CAlgorithm&) = delete;
    bool IsOpen() const { return m_bOpen; }
    BCRYPT_ALG_HANDLE Get() const { return m_handle; }

private:
    BCRYPT_ALG_HANDLE m_handle = nullptr;
    bool m_bOpen = false;
};

class CKey {
public:
    CKey(BCRYPT_ALG_HANDLE algorithm, const unsigned char* key, ULONG size)
    {
        m_bValid = BCRYPT_SUCCESS(BCryptGenerateSymmetricKey(algorithm, &m_handle, nullptr, 0,
                                                             const_cast<PUCHAR>(key), size, 0));
    }
    ~CKey()
    {
        if (m_bValid) {
            BCryptDestroyKey(m_handle);
        }
    }
    CKey(const CKey&) = delete;
    CKey& operator=(const CKey&) = delete;
    bool IsValid() const { return m_bValid; }
    BCRYPT_KEY_HANDLE Get() const { return m_handle; }

private:
    BCRYPT_KEY_HANDLE m_handle = nullptr;
    bool m_bValid = false;
};

}  // namespace

int OrvAesRun(uint32_t keyBits, bool ecb, const unsigned char* key, const unsigned char* iv, bool encrypt,
              const unsigned char* in, int inLength, unsigned char* out, int* outLength)
{
    if (keyBits != 128 && keyBits != 192 && keyBits != 256) {
        return kOrvCipherInitFailed;
    }
    CAlgorithm algorithm;
    if (!algorithm.IsOpen()) {
        return kOrvCipherInitFailed;
    }
    const wchar_t* mode = ecb ? BCRYPT_CHAIN_MODE_ECB : BCRYPT_CHAIN_MODE_CBC;
    if (!BCRYPT_SUCCESS(BCryptSetProperty(algorithm.Get(), BCRYPT_CHAINING_MODE,
                                          reinterpret_cast<PUCHAR>(const_cast<wchar_t*>(mode)),
                                          static_cast<ULONG>((wcslen(mode) + 1) * sizeof(wchar_t)), 0))) {
        return kOrvCipherModeFailed;
    }
    CKey cipherKey(algorithm.Get(), key, keyBits / 8);
    if (!cipherKey.IsValid()) {
        return kOrvCipherInitFailed;
    }
    // CNG advances the IV it is given; each call starts from the caller's.
    unsigned char chain[16];
    std::memcpy(chain, iv, sizeof(chain));
    PUCHAR chainArgument = ecb ? nullptr : chain;
    ULONG chainSize = ecb ? 0 : sizeof(chain);
    ULONG inSize = static_cast<ULONG>(inLength);
    ULONG produced = 0;
    if (encrypt) {
        ULONG capacity = (inSize / 16 + 1) * 16;
        if (!BCRYPT_SUCCESS(BCryptEncrypt(cipherKey.Get(), const_cast<PUCHAR>(in), inSize, nullptr, chainArgument,
                                          chainSize, out, capacity, &produced, BCRYPT_BLOCK_PADDING))) {
            return kOrvCipherUpdateFailed;
        }
    } else if (!BCRYPT_SUCCESS(BCryptDecrypt(cipherKey.Get(), const_cast<PUCHAR>(in), inSize, nullptr, chainArgument,
                                             chainSize, out, inSize, &produced, BCRYPT_BLOCK_PADDING))) {
        // Padding that does not check out is the usual sign of a wrong key or damaged text.
        return kOrvCipherFinalFailed;
    }
    *outLength = static_cast<int>(produced);
    return 0;
}

bool OrvRandomBytes(unsigned char* buffer, size_t length)
{
    if (length > 0xffffffffu) {
        return false;
    }
    return BCRYPT_SUCCESS(
        BCryptGenRandom(nullptr, buffer, static_cast<ULONG>(length), BCRYPT_USE_SYSTEM_PREFERRED_RNG));
}
