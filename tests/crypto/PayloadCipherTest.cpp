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
    std::vector<char> out(data.size() * 2 + 64, 'x');
    int length = static_cast<int>(out.size());
    int result = PELLAX_CLIENT_Encrypt(key, keyLength, data.empty() ? &kNoData : data.data(),
                                       static_cast<int>(data.size()), out.data(), &length);
    if (result == 0) {
        text->assign(out.data(), static_cast<size_t>(length));
        EXPECT_EQ(out[static_cast<size_t>(length)], 'x') << "no NUL or anything else after the text";
    }
    return result;
}

int Decrypt(const unsigned char* key, const std::string& text, std::vector<unsigned char>* plain, int keyLength = 16)
{
    std::vector<unsigned char> out(text.size() + 1);
    int length = static_cast<int>(out.size());
    int result =
        PELLAX_CLIENT_Decrypt(key, keyLength, text.data(), static_cast<int>(text.size()), out.data(), &length);
    if (result == 0) {
        plain->assign(out.begin(), out.begin() + length);
    }
    return result;
}

const struct {
    size_t size;
    std::string text;
} kVectors[] = {
    {0, "lU9k8uTobp7ugtICFmhImQ=="},
    {1, "TE0Q4fVUL+8+LaMf9LRHGg=="},
    {15, "xRWv8+8Usz5trhEkGYP6Qg=="},
    {16, "3uHysVRbXMO4gYm01U7AyZVPZPLk6G6e7oLSAhZoSJk="},
    {17, "3uHysVRbXMO4gYm01U7AyacpIRv5Ef9HQmfOq5Vf0fU="},
};

TEST(PayloadCipher, EncryptMatchesTheOpensslCommandLineWithTheFirstSixteenKeyBytesAndShorterKeysAreRefused)
{
    for (const auto& vector : kVectors) {
        std::string text;
        ASSERT_EQ(Encrypt(kKey, 16, Pattern(vector.size), &text), 0) << vector.size;
        EXPECT_EQ(text, vector.text) << vector.size << " bytes";
        std::vector<unsigned char> plain;
        ASSERT_EQ(Decrypt(kKey, vector.text, &plain), 0) << vector.size;
        EXPECT_EQ(plain, Pattern(vector.size));
    }
    unsigned char longKeys[2][32];  // both begin with kKey; their tails differ
    for (int i = 0; i < 32; ++i) {
        longKeys[0][i] = static_cast<unsigned char>(i);
        longKeys[1][i] = static_cast<unsigned char>(i < 16 ? i : 255 - i);
    }
    std::vector<unsigned char> plain;
    for (int keyLength : {0, 1, 15, 16, 32}) {
        for (const unsigned char* key : longKeys) {
            std::string text = "refused";
            int expected = keyLength < 16 ? -4 : 0;
            EXPECT_EQ(Encrypt(key, keyLength, Pattern(17), &text), expected) << keyLength;
            EXPECT_EQ(text, expected == 0 ? kVectors[4].text : "refused") << keyLength;
            EXPECT_EQ(Decrypt(key, kVectors[4].text, &plain, keyLength), expected) << keyLength;
        }
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
    EXPECT_EQ(std::string(out, length), kVectors[3].text);
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

// Decoding stops at '=', at a NUL and at a character outside the alphabet opening a group; what
// comes before must be whole base64 groups of whole cipher blocks under the right key.
TEST(PayloadCipher, DecryptRefusesTextThatIsNotBase64OrNotWholeBlocksUnderTheRightKey)
{
    const std::string good = kVectors[3].text;  // 44 characters, the last group "SJk="
    const std::string nul(1, '\0');
    const struct {
        std::string text;
        int result;
    } cases[] = {
        {"", -3},
        {"*" + good.substr(1), -3},
        {"=" + good.substr(1), -3},
        {good.substr(0, 1) + "*" + good.substr(2), -3},  // outside the alphabet in position 2
        {good.substr(0, 2) + "=" + good.substr(3), -3},  // '=' where a character must be
        {good.substr(0, 3) + nul + good.substr(4), -3},
        {good.substr(0, 42), -3},  // last group cut short
        {good.substr(0, 40) + "SJ=k", -3},  // a character after '=' in position 3
        {good.substr(0, 40) + "SJk*", -3},
        {kVectors[4].text + "QUJD", 0},  // after the padded group
        {kVectors[4].text + nul + "junk", 0},
        {kVectors[1].text + "*junk", 0},
        {kVectors[0].text.substr(0, 20) + nul + "AAA", -12},  // 15 bytes are not a whole block
    };
    std::vector<unsigned char> plain;
    for (const auto& c : cases) {
        EXPECT_EQ(Decrypt(kKey, c.text, &plain), c.result) << '"' << c.text << '"';
    }
    unsigned char wrongKey[16];
    std::memcpy(wrongKey, kKey, 16);
    wrongKey[0] ^= 1;
    EXPECT_EQ(Decrypt(wrongKey, kVectors[4].text, &plain), -12) << "a wrong key fails in the final step";
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
    EXPECT_EQ(length, 64);
    length = -1;
    EXPECT_EQ(PELLAX_CLIENT_Encrypt(kKey, 16, data, 4, text, &length), -4);
    EXPECT_EQ(text[0], 'x');

    unsigned char plain[32] = {'y'};
    const char* good = kVectors[0].text.c_str();
    length = 32;
    EXPECT_EQ(PELLAX_CLIENT_Decrypt(nullptr, 16, good, 24, plain, &length), -4);
    EXPECT_EQ(PELLAX_CLIENT_Decrypt(kKey, 16, nullptr, 24, plain, &length), -4);
    EXPECT_EQ(PELLAX_CLIENT_Decrypt(kKey, 16, good, -1, plain, &length), -4);
    EXPECT_EQ(PELLAX_CLIENT_Decrypt(kKey, 16, good, 24, nullptr, &length), -4);
    length = -1;
    EXPECT_EQ(PELLAX_CLIENT_Decrypt(kKey, 16, good, 24, plain, &length), -4);
    EXPECT_EQ(plain[0], 'y');
}

TEST(DataKey, ExactlyTheRequestedBytesAreWrittenAndBadArgumentsWriteNothing)
{
    for (int length : {32, 3, 0, -1}) {
        char key[40];
        std::memset(key, 'g', sizeof(key));
        EXPECT_EQ(PELLAX_CLIENT_GetDataKey(key, length), length < 0 ? -4 : 0) << length;
        size_t written = length < 0 ? 0 : static_cast<size_t>(length);
        EXPECT_EQ(std::string(key + written, sizeof(key) - written), std::string(sizeof(key) - written, 'g'));
        EXPECT_TRUE(length != 32 || std::string(key, 32) != std::string(32, 'g')) << "32 bytes all equal the guard";
    }
    EXPECT_EQ(PELLAX_CLIENT_GetDataKey(nullptr, 16), -4);
    char first[16];
    char second[16];
    ASSERT_EQ(PELLAX_CLIENT_GetDataKey(first, 16), 0);
    ASSERT_EQ(PELLAX_CLIENT_GetDataKey(second, 16), 0);
    EXPECT_NE(std::memcmp(first, second, 16), 0);
}

}  // namespace
