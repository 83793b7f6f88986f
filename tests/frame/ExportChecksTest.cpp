#include <gtest/gtest.h>

#include "frame/SEQMgr.h"
#include "frame/Singleton.h"
#include "pellax.h"

using ORV::PELLAX::CSEQMgr;

namespace {

TEST(ExportChecks, InitAndUninitMayRepeatAndSequencesStayPositiveAndFollowOnAfterARestart)
{
    EXPECT_EQ(PELLAX_SERVER_CreateSession(nullptr, 7000, nullptr), -4);
    EXPECT_EQ(PELLAX_SERVER_CreateSession("127.0.0.1", -1, nullptr), -4);
    EXPECT_EQ(PELLAX_Init(nullptr), 0);
    EXPECT_EQ(PELLAX_Init(nullptr), 0);
    COrvSingletonT<CSEQMgr>::Instance()->SetCounterForTest(0xFFFFFFFEu);
    for (int i = 0; i < 4; ++i) {
        EXPECT_GE(PELLAX_GenerateSequence(), 0) << "across the counter's wrap";
    }
    EXPECT_EQ(PELLAX_Uninit(), 0);
    EXPECT_EQ(PELLAX_Uninit(), 0);
    EXPECT_EQ(COrvSingletonT<CSEQMgr>::Peek(), nullptr) << "shut-down ends the singletons";

    EXPECT_EQ(PELLAX_Init(nullptr), 0);
    int first = PELLAX_GenerateSequence();
    int second = PELLAX_GenerateSequence();
    EXPECT_GE(first, 0);
    EXPECT_EQ((static_cast<uint32_t>(second) - static_cast<uint32_t>(first)) & 0x7FFFFFFFu, 1u);
    EXPECT_EQ(PELLAX_Uninit(), 0);
}

}  // namespace
