// Linux only: a generator that fails can be put in place only through OpenSSL's method hook; the
// system generator of Windows cannot be made to fail.
#include <gtest/gtest.h>

// The failing generator below needs the pre-provider method hook.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/rand.h>

#include "pellax.h"

namespace {

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
