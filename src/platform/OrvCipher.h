// The system's cryptography behind the payload cipher: AES with PKCS#7 padding over a whole buffer,
// and cryptographically strong random bytes. Both targets give byte-identical ciphertext.
#ifndef PELLAX_PLATFORM_ORV_CIPHER_H
#define PELLAX_PLATFORM_ORV_CIPHER_H

#include <cstddef>
#include <cstdint>

// Results of OrvAesRun besides 0.
constexpr int kOrvCipherNoMemory = -5;
constexpr int kOrvCipherInitFailed = -9;     // no such cipher, or the key was refused
constexpr int kOrvCipherModeFailed = -10;    // the chaining mode or padding could not be set
constexpr int kOrvCipherUpdateFailed = -11;  // the data could not be encrypted
constexpr int kOrvCipherFinalFailed = -12;   // decryption failed: wrong key, damaged text, bad padding

// keyBits 128, 192 or 256; ECB ignores iv. out needs inLength + 16 bytes when encrypting and
// inLength when decrypting; *outLength becomes the bytes produced.
int OrvAesRun(uint32_t keyBits, bool ecb, const unsigned char* key, const unsigned char* iv, bool encrypt,
              const unsigned char* in, int inLength, unsigned char* out, int* outLength);
// False when the generator could not deliver; the buffer must then not be used as a key.
bool OrvRandomBytes(unsigned char* buffer, size_t length);

#endif
