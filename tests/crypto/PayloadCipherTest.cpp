#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "pellax.h"

namespace {

// Expected texts come from the openssl command line, not from this library, and hold for every
// target whatever cryptography it is built on:
//   openssl enc -aes-128-ecb -K 000102030405060708090a0b0c0d0e0f -nosalt -base64 -A
// over n bytes with byte i = i * 7 mod 256.
const unsigned char kKey[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

std::vector<unsigned char> Pattern(size_t size)
{
    std::vector<unsigned char> data(size);
    for (size_t i = 0; i < size; ++i) {
        data[i] = static_cast<unsigned char>(i * 7);
    }
    return data;
}

// Encrypts with a capacity of one byte more than needed; returns the result code and the text.
int Encrypt(const unsigned char* key, int keyLength, const std::vector<unsigned char>& data, std::string* text)
{
    static const unsigned char kNoData = 0;  // an empty payload still needs a pointer
    const unsigned char* bytes = data.empty() ? &kNoData : data.data();
    std::vector<char> out(data.size() * 2 + 64, 'x');
    int length = static_cast<int>(out.size());
    int result = PELLAX_CLIENT_Encrypt(key, keyLength, bytes, static_cast<int>(data.size()), out.data(), &length);
    if (result == 0) {
        text->assign(out.data(), static_cast<size_t>(length));
        EXPECT_EQ(out[static_cast<size_t>(length)], 'x') << "no NUL or anything else after the text";
    }
    return result;
}

int Decrypt(const unsigned char* key, const std::string& text, std::vector<unsigned char>* plain)
{
    std::vector<unsigned char> out(text.size() + 1);
    int length = static_cast<int>(out.size());
    int result = PELLAX_CLIENT_Decrypt(key, 16, text.data(), static_cast<int>(text.size()), out.data(), &length);
    if (result == 0) {
        plain->assign(out.begin(), out.begin() + length);
    }
    return result;
}

struct Vector {
    size_t size;
    const char* text;
};

const Vector kVectors[] = {
    {0, "lU9k8uTobp7ugtICFmhImQ=="},
    {1, "TE0Q4fVUL+8+LaMf9LRHGg=="},
    {15, "xRWv8+8Usz5trhEkGYP6Qg=="},
    {16, "3uHysVRbXMO4gYm01U7AyZVPZPLk6G6e7oLSAhZoSJk="},
    {17, "3uHysVRbXMO4gYm01U7AyacpIRv5Ef9HQmfOq5Vf0fU="},
};

TEST(PayloadCipher, EncryptMatchesTheOpensslCommandLineAndDecryptBringsThePlaintextBack)
{
    for (const Vector& vector : kVectors) {
        std::string text;
        ASSERT_EQ(Encrypt(kKey, 16, Pattern(vector.size), &text), 0) << vector.size;
        EXPECT_EQ(text, vector.text) << vector.size << " bytes";
        std::vector<unsigned char> plain;
        ASSERT_EQ(Decrypt(kKey, vector.text, &plain), 0) << vector.size;
        EXPECT_EQ(plain, Pattern(vector.size));
    }
}

TEST(PayloadCipher, EncryptNeedsOneByteMoreThanTheTextAndDecryptTheDecodedLengthWithRoomForANul)
{
    std::vector<unsigned char> data = Pattern(16);
    char out[64];
    std::memset(out, 'x', sizeof(out));
    int length = 44;
    EXPECT_EQ(PELLAX_CLIENT_Encrypt(kKey, 16, data.data(), 16, out, &length), -8);
    EXPECT_EQ(length, 44);
    EXPECT_EQ(out[0], 'x');
    length = 45;
    ASSERT_EQ(PELLAX_CLIENT_Encrypt(kKey, 16, data.data(), 16, out, &length), 0);
    EXPECT_EQ(length, 44);
    EXPECT_EQ(std::string(out, 44), kVectors[3].text);
    EXPECT_EQ(out[44], 'x') << "no NUL after the text";

    // Three plaintext bytes still need the 16 the text decodes to.
    std::string text;
    ASSERT_EQ(Encrypt(kKey, 16, {'a', 'b', 'c'}, &text), 0);
    ASSERT_EQ(text.size(), 24u);
    std::vector<unsigned char> plain(16, 'x');
    length = 15;
    EXPECT_EQ(PELLAX_CLIENT_Decrypt(kKey, 16, text.data(), 24, plain.data(), &length), -8);
    EXPECT_EQ(length, 15);
    length = 16;
    ASSERT_EQ(PELLAX_CLIENT_Decrypt(kKey, 16, text.data(), 24, plain.data(), &length), 0);
    EXPECT_EQ(length, 3);
    EXPECT_STREQ(reinterpret_cast<const char*>(plain.data()), "abc");
    EXPECT_EQ(plain[4], 'x') << "nothing beyond the NUL";
}

TEST(PayloadCipher, DecryptRefusesTextThatIsNotBase64)
{
    const std::string good = kVectors[3].text;  // 44 characters, the last group "SJk="
    const std::string bad[] = {
        "",
        "*" + good.substr(1),
        "=" + good.substr(1),
        good.substr(0, 1) + "*" + good.substr(2),          // outside the alphabet in position 2
        good.substr(0, 2) + "=" + good.substr(3),          // '=' where a character must be
        good.substr(0, 3) + std::string(1, '\0') + good.substr(4),
        good.substr(0, 42),                                // last group cut short
        good.substr(0, 40) + "SJ=k",                       // a character after '=' in position 3
        good.substr(0, 40) + "SJk*",
    };
    for (const std::string& text : bad) {
        std::vector<unsigned char> plain;
        EXPECT_EQ(Decrypt(kKey, text, &plain), -3) << '"' << text << '"';
    }
}

TEST(PayloadCipher, DecodingStopsAtTheEndMarkersAndOnlyWholeBlocksUnderTheRightKeyDecrypt)
{
    const std::string good = kVectors[4].text;
    const std::string texts[] = {
        good + "QUJD",                                 // after the padded group
        good + std::string(1, '\0') + "junk",          // after a NUL
        std::string(kVectors[1].text) + "*junk",        // non-alphabet opening a group
    };
    for (const std::string& text : texts) {
        std::vector<unsigned char> plain;
        EXPECT_EQ(Decrypt(kKey, text, &plain), 0) << text;
    }
    std::string unpadded = std::string(kVectors[0].text).substr(0, 20);  // 15 bytes decoded, then an end
    unpadded += std::string(1, '\0') + "AAA";
    std::vector<unsigned char> plain;
    EXPECT_EQ(Decrypt(kKey, unpadded, &plain), -12) << "15 bytes are not a whole block";

    unsigned char wrongKey[16];
    std::memcpy(wrongKey, kKey, 16);
    wrongKey[0] ^= 1;
    EXPECT_EQ(Decrypt(wrongKey, kVectors[4].text, &plain), -12) << "a wrong key fails in the final step";
}

TEST(PayloadCipher, OnlyTheFirstSixteenKeyBytesCountAndShorterKeysAreRefused)
{
    unsigned char longKey[32];
    unsigned char otherTail[32];
    for (int i = 0; i < 32; ++i) {
        longKey[i] = static_cast<unsigned char>(i);
        otherTail[i] = static_cast<unsigned char>(i < 16 ? i : 255 - i);
    }
    std::string text;
    for (int keyLength : {0, 1, 15}) {
        int length = 64;
        unsigned char plain[64];
        int textLength = static_cast<int>(std::strlen(kVectors[4].text));
        EXPECT_EQ(Encrypt(longKey, keyLength, Pattern(17), &text), -4) << keyLength;
        EXPECT_EQ(PELLAX_CLIENT_Decrypt(longKey, keyLength, kVectors[4].text, textLength, plain, &length), -4);
    }
    for (int keyLength : {16, 32}) {
        ASSERT_EQ(Encrypt(longKey, keyLength, Pattern(17), &text), 0);
        EXPECT_EQ(text, kVectors[4].text) << keyLength;
        ASSERT_EQ(Encrypt(otherTail, keyLength, Pattern(17), &text), 0);
        EXPECT_EQ(text, kVectors[4].text) << keyLength;
    }
}

TEST(PayloadCipher, BadArgumentsAreRefusedBeforeAnythingIsWritten)
{
    unsigned char data[4] = {1, 2, 3, 4};
    char text[64] = "x";
    int length = 64;
    EXPECT_EQ(PELLAX_CLIENT_Encrypt(nullptr, 16, data, 4, text, &length), -4);
    EXPECT_EQ(PELLAX_CLIENT_Encrypt(kKey, -1, data, 4, text, &length), -4);
    EXPECT_EQ(PELLAX_CLIENT_Encrypt(kKey, 16, nullptr, 4, text, &length), -4);
    EXPECT_EQ(PELLAX_CLIENT_Encrypt(kKey, 16, data, -1, text, &length), -4);
    EXPECT_EQ(PELLAX_CLIENT_Encrypt(kKey, 16, data, 4, nullptr, &length), -4);
    EXPECT_EQ(text[0], 'x');
    EXPECT_EQ(length, 64);
    length = -1;
    EXPECT_EQ(PELLAX_CLIENT_Encrypt(kKey, 16, data, 4, text, &length), -4);
    EXPECT_EQ(text[0], 'x');

    unsigned char plain[32] = {'y'};
    length = 32;
    EXPECT_EQ(PELLAX_CLIENT_Decrypt(nullptr, 16, kVectors[0].text, 24, plain, &length), -4);
    EXPECT_EQ(PELLAX_CLIENT_Decrypt(kKey, 16, nullptr, 24, plain, &length), -4);
    EXPECT_EQ(PELLAX_CLIENT_Decrypt(kKey, 16, kVectors[0].text, -1, plain, &length), -4);
    EXPECT_EQ(PELLAX_CLIENT_Decrypt(kKey, 16, kVectors[0].text, 24, nullptr, &length), -4);
    length = -1;
    EXPECT_EQ(PELLAX_CLIENT_Decrypt(kKey, 16, kVectors[0].text, 24, plain, &length), -4);
    EXPECT_EQ(plain[0], 'y');
}

}  // namespace
