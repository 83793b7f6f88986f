#include <gtest/gtest.h>

#include <cstring>

#include "pellax.h"

namespace {

constexpr char kGuard = 'g';

// How many of the first n bytes differ from the guard; the rest must still hold it.
int Written(const char* key, size_t size, size_t n)
{
    int written = 0;
    for (size_t i = 0; i < size; ++i) {
        if (i >= n) {
            EXPECT_EQ(key[i], kGuard) << "byte " << i << " of a " << n << "-byte key";
        }
        written += i < n && key[i] != kGuard;
    }
    return written;
}

TEST(DataKey, ExactlyTheRequestedBytesAreWrittenAndBadArgumentsWriteNothing)
{
    char key[40];
    for (int length : {32, 3, 0, -1}) {
        std::memset(key, kGuard, sizeof(key));
        EXPECT_EQ(PELLAX_CLIENT_GetDataKey(key, length), length < 0 ? -4 : 0) << length;
        int written = Written(key, sizeof(key), length < 0 ? 0 : length);
        if (length == 32) {
            EXPECT_GT(written, 0) << "32 random bytes all equal to the guard";
        }
    }
    EXPECT_EQ(PELLAX_CLIENT_GetDataKey(nullptr, 16), -4);

    char first[16];
    char second[16];
    ASSERT_EQ(PELLAX_CLIENT_GetDataKey(first, 16), 0);
    ASSERT_EQ(PELLAX_CLIENT_GetDataKey(second, 16), 0);
    EXPECT_NE(std::memcmp(first, second, 16), 0);
}

}  // namespace
