#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>
#include <utility>

#include "pellax.h"

namespace {

// Expected texts come from the openssl command line, not from this library, and hold for every
// target whatever cryptography it is built on:
//   openssl enc -aes-128-ecb -K 000102030405060708090a0b0c0d0e0f -nosalt -base64 -A
// over n bytes with byte i = i * 7 mod 256.
const std::string kKey = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

std::string Pattern(size_t size)
{
    std::string data;
    while (data.size() < size) {
        data += static_cast<char>(data.size() * 7);
    }
    return data;
}

// Encrypts or decrypts into `capacity` bytes of 'x'. Gives the result code and, on success, what was
// written up to the reported length plus the two bytes after it; on failure the untouched buffer, or
// a note that the length was changed.
std::pair<int, std::string> Cipher(bool encrypt, const std::string& in, int capacity, const std::string& key = kKey,
                                int keyLength = 16)
{
    std::string out(static_cast<size_t>(capacity) + 2, 'x');
    int length = capacity;
    auto Bytes = [](const std::string& text) { return reinterpret_cast<const unsigned char*>(text.data()); };
    int result = encrypt ? PELLAX_CLIENT_Encrypt(Bytes(key), keyLength, Bytes(in), int(in.size()), &out[0], &length)
                         : PELLAX_CLIENT_Decrypt(Bytes(key), keyLength, in.data(), int(in.size()),
                                                 reinterpret_cast<unsigned char*>(&out[0]), &length);
    if (result == 0) {
        return {0, out.substr(0, static_cast<size_t>(length) + 2)};
    }
    return {result, length == capacity ? out : "length changed"};
}

const std::pair<size_t, std::string> kVectors[] = {
    {0, "lU9k8uTobp7ugtICFmhImQ=="},
    {1, "TE0Q4fVUL+8+LaMf9LRHGg=="},
    {15, "xRWv8+8Usz5trhEkGYP6Qg=="},
    {16, "3uHysVRbXMO4gYm01U7AyZVPZPLk6G6e7oLSAhZoSJk="},
    {17, "3uHysVRbXMO4gYm01U7AyacpIRv5Ef9HQmfOq5Vf0fU="},
};

// Encryption writes no NUL after the text, decryption one after the plaintext; keys shorter than 16
// bytes are refused and only the first 16 bytes of a longer one are used.
TEST(PayloadCipher, EncryptMatchesTheOpensslCommandLineWithTheFirstSixteenKeyBytesAndShorterKeysAreRefused)
{
    for (const auto& [size, text] : kVectors) {
        EXPECT_EQ(Cipher(true, Pattern(size), 64), std::make_pair(0, text + "xx")) << size;
        EXPECT_EQ(Cipher(false, text, 64), std::make_pair(0, Pattern(size) + '\0' + 'x')) << size;
    }
    const std::string& text = kVectors[4].second;
    for (int keyLength : {0, 1, 15, 16, 32}) {
        for (const std::string& key : {kKey + std::string(16, 'a'), kKey + std::string(16, 'b')}) {
            const int expected = keyLength < 16 ? -4 : 0;
            EXPECT_EQ(std::make_tuple(Cipher(true, Pattern(17), 64, key, keyLength).second.substr(0, 44),
                                      Cipher(false, text, 64, key, keyLength).first),
                      std::make_tuple(expected == 0 ? text : std::string(44, 'x'), expected))
                << keyLength;
        }
    }
}

// Encryption needs one byte more than the text, decryption the decoded length (room for the NUL).
// Decoding stops at '=', at a NUL and at a character outside the alphabet opening a group; what comes
// before must be whole base64 groups of whole cipher blocks under the right key.
TEST(PayloadCipher, OutputLimitsAndTextThatIsNotBase64OrNotWholeBlocksUnderTheRightKey)
{
    const std::string good = kVectors[3].second;  // 44 characters, the last group "SJk="
    const std::string abc = "sIsfgJoDUGRCDR11QCKrVQ==";
    const std::string nul(1, '\0');
    // encrypt, input, capacity, result, output (empty: not compared)
    const std::tuple<bool, std::string, int, int, std::string> cases[] = {
        {true, Pattern(16), 44, -8, std::string(46, 'x')},
        {true, Pattern(16), 45, 0, good + "xx"},
        {false, abc, 15, -8, std::string(17, 'x')},
        {false, abc, 16, 0, "abc" + nul + "x"},
        {false, "", 64, -3, ""},
        {false, "*" + good.substr(1), 64, -3, ""},
        {false, "=" + good.substr(1), 64, -3, ""},
        {false, good.substr(0, 1) + "*" + good.substr(2), 64, -3, ""},  // outside the alphabet in position 2
        {false, good.substr(0, 2) + "=" + good.substr(3), 64, -3, ""},  // '=' where a character must be
        {false, good.substr(0, 3) + nul + good.substr(4), 64, -3, ""},
        {false, good.substr(0, 42), 64, -3, ""},  // last group cut short
        {false, good.substr(0, 40) + "SJ=k", 64, -3, ""},  // a character after '=' in position 3
        {false, good.substr(0, 40) + "SJk*", 64, -3, ""},
        {false, kVectors[4].second + "QUJD", 64, 0, ""},  // after the padded group
        {false, kVectors[4].second + nul + "junk", 64, 0, ""},
        {false, kVectors[1].second + "*junk", 64, 0, ""},
        {false, kVectors[0].second.substr(0, 20) + nul + "AAA", 64, -12, ""},  // 15 bytes are not a whole block
    };
    for (const auto& [encrypt, in, capacity, result, out] : cases) {
        auto outcome = Cipher(encrypt, in, capacity);
        EXPECT_EQ(outcome.first, result) << '"' << in << '"';
        EXPECT_TRUE(out.empty() || outcome.second == out) << '"' << in << "\" gave " << outcome.second;
    }
    EXPECT_EQ(Cipher(false, kVectors[4].second, 64, "0123456789abcdef").first, -12) << "a wrong key fails at the end";
}

TEST(PayloadCipher, BadArgumentsAreRefusedBeforeAnythingIsWritten)
{
    const auto* key = reinterpret_cast<const unsigned char*>(kKey.data());
    const unsigned char* data = key;
    const char* text = kVectors[0].second.c_str();
    char out[64] = "x";
    auto* plain = reinterpret_cast<unsigned char*>(out);
    int length = 64;
    int negative = -1;
    for (int result : {PELLAX_CLIENT_Encrypt(nullptr, 16, data, 4, out, &length),
                       PELLAX_CLIENT_Encrypt(key, -1, data, 4, out, &length),
                       PELLAX_CLIENT_Encrypt(key, 16, nullptr, 4, out, &length),
                       PELLAX_CLIENT_Encrypt(key, 16, data, -1, out, &length),
                       PELLAX_CLIENT_Encrypt(key, 16, data, 4, nullptr, &length),
                       PELLAX_CLIENT_Encrypt(key, 16, data, 4, out, &negative),
                       PELLAX_CLIENT_Decrypt(nullptr, 16, text, 24, plain, &length),
                       PELLAX_CLIENT_Decrypt(key, 16, nullptr, 24, plain, &length),
                       PELLAX_CLIENT_Decrypt(key, 16, text, -1, plain, &length),
                       PELLAX_CLIENT_Decrypt(key, 16, text, 24, nullptr, &length),
                       PELLAX_CLIENT_Decrypt(key, 16, text, 24, plain, &negative)}) {
        EXPECT_EQ(result, -4);
    }
    EXPECT_EQ(std::make_tuple(length, negative, out[0]), std::make_tuple(64, -1, 'x'));
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
    char keys[2][16];
    ASSERT_EQ(PELLAX_CLIENT_GetDataKey(keys[0], 16) + PELLAX_CLIENT_GetDataKey(keys[1], 16), 0);
    EXPECT_NE(std::memcmp(keys[0], keys[1], 16), 0);
}

}  // namespace
