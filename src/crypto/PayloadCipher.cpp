#include "crypto/PayloadCipher.h"

#include <climits>
#include <cstddef>
#include <memory>
#include <new>

#include "crypto/AesCipher.h"
#include "crypto/Base64.h"
#include "pellax.h"
#include "platform/OrvCipher.h"

namespace ORV {
namespace PELLAX {

namespace {

constexpr size_t kBlockSize = 16;
// AES-128 takes the first 16 key bytes; a shorter key would make the cipher read past the host's buffer.
constexpr int kKeyBytes = 16;

bool ValidArguments(const void* key, int keyLength, const void* in, int inLength, const void* out,
                    const int* outLength)
{
    return key != nullptr && in != nullptr && out != nullptr && outLength != nullptr && keyLength >= kKeyBytes &&
           inLength >= 0 && *outLength >= 0;
}

CAesCipher MakeCipher(const unsigned char* key)
{
    static constexpr unsigned char kZeroIv[16] = {};
    CAesCipher cipher(128, CAesCipher::kModeEcb);
    cipher.SetIv(kZeroIv);
    cipher.SetKey(key);
    return cipher;
}

}  // namespace

int CPayloadCipher::GetDataKey(char* key, int length)
{
    if (key == nullptr || length < 0) {
        return PELLAX_CIPHER_E_INVALID;
    }
    // A failed generator must not pass whatever the buffer held before off as a fresh key.
    return OrvRandomBytes(reinterpret_cast<unsigned char*>(key), static_cast<size_t>(length)) ? 0 : PELLAX_CIPHER_E_INVALID;
}

int CPayloadCipher::Encrypt(const unsigned char* key, int keyLength, const unsigned char* data, int dataLength,
                            char* out, int* outLength)
{
    if (!ValidArguments(key, keyLength, data, dataLength, out, outLength)) {
        return PELLAX_CIPHER_E_INVALID;
    }
    // PKCS#7 always adds a block, full when the data fills its last one.
    size_t cipherCapacity = (static_cast<size_t>(dataLength) / kBlockSize + 1) * kBlockSize;
    if (cipherCapacity > INT_MAX) {
        return PELLAX_CIPHER_E_TOO_SMALL;  // its text could never fit an int-sized capacity
    }
    std::unique_ptr<unsigned char[]> cipherText(new (std::nothrow) unsigned char[cipherCapacity]);
    if (!cipherText) {
        return PELLAX_CIPHER_E_NO_MEMORY;
    }
    int cipherLength = 0;
    int result = MakeCipher(key).Run(true, data, dataLength, cipherText.get(), &cipherLength);
    if (result != 0) {
        return result;
    }
    size_t textLength = CBase64::EncodedLength(static_cast<size_t>(cipherLength));
    if (static_cast<size_t>(*outLength) <= textLength) {
        return PELLAX_CIPHER_E_TOO_SMALL;
    }
    // Straight into the host's buffer: the capacity is known, so no text buffer and no copy.
    CBase64::Encode(cipherText.get(), static_cast<size_t>(cipherLength), out);
    *outLength = static_cast<int>(textLength);
    return 0;
}

int CPayloadCipher::Decrypt(const unsigned char* key, int keyLength, const char* text, int textLength,
                            unsigned char* out, int* outLength)
{
    if (!ValidArguments(key, keyLength, text, textLength, out, outLength)) {
        return PELLAX_CIPHER_E_INVALID;
    }
    std::unique_ptr<unsigned char[]> cipherText(new (std::nothrow) unsigned char[static_cast<size_t>(textLength) + 1]);
    if (!cipherText) {
        return PELLAX_CIPHER_E_NO_MEMORY;
    }
    int cipherLength = CBase64::Decode(text, textLength, cipherText.get());
    if (cipherLength < 1) {
        return PELLAX_CIPHER_E_NOT_BASE64;
    }
    if (*outLength < cipherLength) {
        return PELLAX_CIPHER_E_TOO_SMALL;
    }
    int plainLength = 0;
    int result = MakeCipher(key).Run(false, cipherText.get(), cipherLength, out, &plainLength);
    if (result != 0) {
        return result;
    }
    // Padding makes the plaintext at least one byte shorter than the ciphertext: the NUL fits.
    out[plainLength] = '\0';
    *outLength = plainLength;
    return 0;
}

}  // namespace PELLAX
}  // namespace ORV
