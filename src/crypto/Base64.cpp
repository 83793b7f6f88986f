#include "crypto/Base64.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace ORV {
namespace PELLAX {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Every 12-bit value as its two characters in memory order (x86-64 is little-endian): one lookup per
// half group.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "character pairs are stored little-endian");

constexpr std::array<uint16_t, 4096> MakePairs()
{
    std::array<uint16_t, 4096> pairs{};
    for (int value = 0; value < 4096; ++value) {
        pairs[value] = static_cast<uint16_t>(static_cast<unsigned char>(kAlphabet[value >> 6]) |
                                             (static_cast<unsigned char>(kAlphabet[value & 0x3F]) << 8));
    }
    return pairs;
}
constexpr std::array<uint16_t, 4096> kPairs = MakePairs();

uint64_t LoadBigEndian64(const unsigned char* bytes)
{
    uint64_t value;
    std::memcpy(&value, bytes, 8);
    return __builtin_bswap64(value);
}

// One table per group position with the six bits already in place; kInvalid marks anything outside
// the alphabet (NUL and '=' included), so a whole group is checked with one test.
constexpr uint32_t kInvalid = 0x01000000;

constexpr std::array<uint32_t, 256> MakeDecodeTable(int shift)
{
    std::array<uint32_t, 256> table{};
    for (auto& entry : table) {
        entry = kInvalid;
    }
    for (uint32_t value = 0; value < 64; ++value) {
        table[static_cast<unsigned char>(kAlphabet[value])] = value << shift;
    }
    return table;
}
constexpr std::array<uint32_t, 256> kDecode0 = MakeDecodeTable(18);
constexpr std::array<uint32_t, 256> kDecode1 = MakeDecodeTable(12);
constexpr std::array<uint32_t, 256> kDecode2 = MakeDecodeTable(6);
constexpr std::array<uint32_t, 256> kDecode3 = MakeDecodeTable(0);

bool InAlphabet(unsigned char c)
{
    return kDecode3[c] != kInvalid;
}

// The group the fast loop could not take: the normal end, a padded last group, or a malformed one.
// Returns the bytes it adds (0 to 2), or -1.
int DecodeLastGroup(const unsigned char* p, size_t left, unsigned char* out)
{
    if (left == 0 || !InAlphabet(p[0])) {
        return 0;
    }
    if (left < 4 || !InAlphabet(p[1])) {
        return -1;
    }
    uint32_t high = kDecode0[p[0]] | kDecode1[p[1]];
    if (p[2] == '=') {
        if (p[3] != '=') {
            return -1;
        }
        out[0] = static_cast<unsigned char>(high >> 16);
        return 1;
    }
    if (!InAlphabet(p[2]) || p[3] != '=') {
        return -1;
    }
    uint32_t value = high | kDecode2[p[2]];
    out[0] = static_cast<unsigned char>(value >> 16);
    out[1] = static_cast<unsigned char>(value >> 8);
    return 2;
}

}  // namespace

void CBase64::Encode(const unsigned char* data, size_t length, char* text)
{
    size_t index = 0;
    // Two groups per step from one 8-byte load and into one 8-byte store.
    for (; index + 8 <= length; index += 6, text += 8) {
        uint64_t bits = LoadBigEndian64(data + index);
        uint64_t chars = uint64_t{kPairs[(bits >> 52) & 0xFFF]} | (uint64_t{kPairs[(bits >> 40) & 0xFFF]} << 16) |
                         (uint64_t{kPairs[(bits >> 28) & 0xFFF]} << 32) |
                         (uint64_t{kPairs[(bits >> 16) & 0xFFF]} << 48);
        std::memcpy(text, &chars, 8);
    }
    for (; index + 3 <= length; index += 3, text += 4) {
        uint32_t value = (uint32_t{data[index]} << 16) | (uint32_t{data[index + 1]} << 8) | data[index + 2];
        std::memcpy(text, &kPairs[value >> 12], 2);
        std::memcpy(text + 2, &kPairs[value & 0xFFF], 2);
    }
    size_t rest = length - index;
    if (rest == 0) {
        return;
    }
    uint32_t value = uint32_t{data[index]} << 16;
    if (rest == 2) {
        value |= uint32_t{data[index + 1]} << 8;
    }
    text[0] = kAlphabet[value >> 18];
    text[1] = kAlphabet[(value >> 12) & 0x3F];
    text[2] = rest == 2 ? kAlphabet[(value >> 6) & 0x3F] : '=';
    text[3] = '=';
}

int CBase64::Decode(const char* text, int length, unsigned char* out)
{
    const unsigned char* p = reinterpret_cast<const unsigned char*>(text);
    const unsigned char* end = p + length;
    unsigned char* cursor = out;
    // Two groups per step, stored as one 8-byte word whose last two bytes the next step overwrites.
    for (; end - p >= 8; p += 8, cursor += 6) {
        uint32_t first = kDecode0[p[0]] | kDecode1[p[1]] | kDecode2[p[2]] | kDecode3[p[3]];
        uint32_t second = kDecode0[p[4]] | kDecode1[p[5]] | kDecode2[p[6]] | kDecode3[p[7]];
        if ((first | second) & kInvalid) {
            break;
        }
        uint64_t bytes = __builtin_bswap64((uint64_t{first} << 40) | (uint64_t{second} << 16));
        std::memcpy(cursor, &bytes, 8);
    }
    for (; end - p >= 4; p += 4, cursor += 3) {
        uint32_t value = kDecode0[p[0]] | kDecode1[p[1]] | kDecode2[p[2]] | kDecode3[p[3]];
        if (value & kInvalid) {
            break;
        }
        cursor[0] = static_cast<unsigned char>(value >> 16);
        cursor[1] = static_cast<unsigned char>(value >> 8);
        cursor[2] = static_cast<unsigned char>(value);
    }
    int last = DecodeLastGroup(p, static_cast<size_t>(end - p), cursor);
    if (last < 0) {
        return -1;
    }
    return static_cast<int>(cursor - out) + last;
}

}  // namespace PELLAX
}  // namespace ORV

