#include <gtest/gtest.h>

#include "frame/SEQMgr.h"
#include "frame/Singleton.h"
#include "pellax.h"

namespace {

TEST(ExportChecks, CreateSessionRefusesNullAddressAndNegativePortWithoutCreatingAFront)
{
    EXPECT_EQ(PELLAX_SERVER_CreateSession(nullptr, 7000, nullptr), -4);
    EXPECT_EQ(PELLAX_SERVER_CreateSession("127.0.0.1", -1, nullptr), -4);
    EXPECT_EQ(PELLAX_CLIENT_CreateSession(nullptr, 7000, nullptr), -4);
    EXPECT_EQ(PELLAX_CLIENT_CreateSession("127.0.0.1", -1, nullptr), -4);
}

TEST(ExportChecks, CipherRefusesANegativeCapacityWithoutTouchingTheOutput)
{
    unsigned char key[16] = {};
    unsigned char data[4] = {1, 2, 3, 4};
    char output[8] = {'x', 'x', 'x', 'x', 'x', 'x', 'x', 'x'};
    int capacity = -1;
    EXPECT_EQ(PELLAX_CLIENT_Encrypt(key, 16, data, 4, output, &capacity), -4);
    EXPECT_EQ(output[0], 'x');
    EXPECT_EQ(PELLAX_CLIENT_Decrypt(key, 16, "AAAA", 4, data, nullptr), -4);
    EXPECT_EQ(PELLAX_CLIENT_GetDataKey(nullptr, 16), -4);
    EXPECT_EQ(PELLAX_CLIENT_GetDataKey(output, -1), -4);
}

TEST(ExportChecks, GeneratedSequencesAreNeverNegative)
{
    COrvSingletonT<ORV::PELLAX::CSEQMgr>::Instance()->SetCounterForTest(0xFFFFFFFEu);
    for (int i = 0; i < 4; ++i) {
        EXPECT_GE(PELLAX_GenerateSequence(), 0);
    }
}

TEST(ExportChecks, InitAndUninitMayRepeatAndSequencesFollowOnAfterARestart)
{
    EXPECT_EQ(PELLAX_Init(nullptr), 0);
    EXPECT_EQ(PELLAX_Init(nullptr), 0);
    int before = PELLAX_GenerateSequence();
    EXPECT_EQ(PELLAX_Uninit(), 0);
    EXPECT_EQ(PELLAX_Uninit(), 0);
    EXPECT_EQ(COrvSingletonT<ORV::PELLAX::CSEQMgr>::Peek(), nullptr) << "shut-down ends the singletons";

    EXPECT_EQ(PELLAX_Init(nullptr), 0);
    int first = PELLAX_GenerateSequence();
    int second = PELLAX_GenerateSequence();
    EXPECT_GE(before, 0);
    EXPECT_GE(first, 0);
    EXPECT_EQ((static_cast<uint32_t>(second) - static_cast<uint32_t>(first)) & 0x7FFFFFFFu, 1u);
    EXPECT_EQ(PELLAX_Uninit(), 0);
}

TEST(ExportChecks, FreeBufferIgnoresNull)
{
    PELLAX_FreeBuffer(nullptr);
    PELLAX_FreeBuffer(new (std::nothrow) unsigned char[8]);
    SUCCEED() << "no crash and no leak (checked under ASan)";
}

}  // namespace
