#include <gtest/gtest.h>

// The failing generator below needs the pre-provider method hook.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/rand.h>

#include <cstring>

#include "pellax.h"

namespace {

constexpr char kGuard = 'g';

TEST(DataKey, BadArgumentsAreRefusedAndTheBufferStaysUntouched)
{
    char key[8];
    std::memset(key, kGuard, sizeof(key));
    EXPECT_EQ(PELLAX_CLIENT_GetDataKey(nullptr, 16), -4);
    EXPECT_EQ(PELLAX_CLIENT_GetDataKey(key, -1), -4);
    for (char c : key) {
        EXPECT_EQ(c, kGuard);
    }
}

TEST(DataKey, ExactlyTheRequestedBytesAreWritten)
{
    char key[40];
    std::memset(key, kGuard, sizeof(key));
    ASSERT_EQ(PELLAX_CLIENT_GetDataKey(key, 32), 0);
    int unchanged = 0;
    for (int i = 0; i < 32; ++i) {
        unchanged += key[i] == kGuard;
    }
    EXPECT_LT(unchanged, 32) << "32 random bytes all equal to the guard";
    for (int i = 32; i < 40; ++i) {
        EXPECT_EQ(key[i], kGuard) << i;
    }

    std::memset(key, kGuard, sizeof(key));
    ASSERT_EQ(PELLAX_CLIENT_GetDataKey(key, 3), 0);
    for (int i = 3; i < 40; ++i) {
        EXPECT_EQ(key[i], kGuard) << i;
    }
}

TEST(DataKey, LengthZeroWritesNothing)
{
    char key[4];
    std::memset(key, kGuard, sizeof(key));
    EXPECT_EQ(PELLAX_CLIENT_GetDataKey(key, 0), 0);
    for (char c : key) {
        EXPECT_EQ(c, kGuard);
    }
}

TEST(DataKey, TwoKeysDiffer)
{
    char first[16];
    char second[16];
    ASSERT_EQ(PELLAX_CLIENT_GetDataKey(first, 16), 0);
    ASSERT_EQ(PELLAX_CLIENT_GetDataKey(second, 16), 0);
    EXPECT_NE(std::memcmp(first, second, 16), 0);
}

int FailBytes(unsigned char*, int)
{
    return 0;
}

int FailStatus()
{
    return 0;
}

TEST(DataKey, AFailingGeneratorIsReportedInsteadOfHandingOutTheOldBufferAsAKey)
{
    static const RAND_METHOD kFailing = {nullptr, FailBytes, nullptr, nullptr, FailBytes, FailStatus};
    const RAND_METHOD* previous = RAND_get_rand_method();
    ASSERT_EQ(RAND_set_rand_method(&kFailing), 1);
    char key[16] = {};
    int result = PELLAX_CLIENT_GetDataKey(key, 16);
    RAND_set_rand_method(previous);
    EXPECT_EQ(result, -4);
    EXPECT_EQ(PELLAX_CLIENT_GetDataKey(key, 16), 0) << "the real generator is back";
}

}  // namespace
