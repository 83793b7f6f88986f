#include <gtest/gtest.h>

#include "context/ContextMgr.h"
#include "frame/SEQMgr.h"
#include "pellax.h"
#include "support/EventThreadHelper.h"

namespace ORV {
namespace PELLAX {
namespace {

CRefPtr<CMessageResponse> MakeResponse(uint32_t command, uint32_t sequence)
{
    CRefPtr<CPellaxMessageHeader> header(new CPellaxMessageHeader(command, 0, sequence, 0, 0, 0));
    return CRefPtr<CMessageResponse>(new CMessageResponse(header, COrvMessageBlock::Create(0)));
}

bool Answered(const CRefPtr<CSyncContext>& context)
{
    CRefPtr<CMessageResponse> response;
    context->GetResponse(response);
    return static_cast<bool>(response);
}

// A late answer to a removed context reaches nobody; of two contexts under one sequence the first stays.
TEST(ContextMgr, AnswersReachOnlyTheFirstLiveContextOfTheirSequence)
{
    CContextMgr manager;
    ASSERT_EQ(manager.Initialize(), 0);
    CRefPtr<CSyncContext> late(new CSyncContext(0x80000010u)), waiting(new CSyncContext(0x80000011u));
    CRefPtr<CSyncContext> first(new CSyncContext(0x80000020u)), second(new CSyncContext(0x80000020u));
    manager.AddContext(late);
    EXPECT_NE(late->Wait(0), 0);
    manager.RemoveContext(0x80000010u);
    for (const auto& context : {waiting, first, second}) {
        manager.AddContext(context);
    }
    manager.QueryContext(MakeResponse(3, 0x80000010u));
    manager.QueryContext(MakeResponse(5, 0x80000020u));
    ASSERT_TRUE(pellax_test::RunOn(manager.GetThread(), [] {}));
    EXPECT_EQ((std::vector<bool>{Answered(late), Answered(waiting), Answered(first), Answered(second)}),
              (std::vector<bool>{false, false, true, false}));
    EXPECT_EQ(manager.GetContextCountForTest(), 2u) << "the answered one stays until its caller removes it";
    // Finalize releases every context still in the table; a null one is never added, nor any without a thread.
    EXPECT_EQ(std::make_pair(manager.AddContext(CRefPtr<CSyncContext>()), waiting->GetReference()),
              std::make_pair(kResultNotStarted, 2u));
    manager.Finalize();
    EXPECT_EQ(waiting->GetReference(), 1u);
    EXPECT_EQ((std::vector<int>{manager.AddContext(waiting), manager.RemoveContext(1),
                                manager.QueryContext(MakeResponse(1, 0x80000011u))}),
              std::vector<int>(3, kResultNotStarted));
    EXPECT_EQ(waiting->GetReference(), 1u);
}

}  // namespace
}  // namespace PELLAX
}  // namespace ORV
