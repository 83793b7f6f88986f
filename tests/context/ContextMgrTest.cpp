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

// Waits (bounded) until the manager's thread has run everything posted so far.
void Drain(CContextMgr& manager)
{
    ASSERT_TRUE(pellax_test::RunOn(manager.GetThread(), [] {}));
}

class ContextMgrTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(m_manager.Initialize(), 0); }
    void TearDown() override { m_manager.Finalize(); }

    CContextMgr m_manager;
};

TEST_F(ContextMgrTest, ALateResponseIsDroppedWithoutDisturbingALaterRequest)
{
    CRefPtr<CSyncContext> first(new CSyncContext(0x80000010u));
    m_manager.AddContext(first);
    EXPECT_NE(first->Wait(0), 0);
    m_manager.RemoveContext(0x80000010u);

    CRefPtr<CSyncContext> second(new CSyncContext(0x80000011u));
    m_manager.AddContext(second);
    m_manager.QueryContext(MakeResponse(3, 0x80000010u));
    Drain(m_manager);

    CRefPtr<CMessageResponse> response;
    second->GetResponse(response);
    EXPECT_FALSE(response);
    first->GetResponse(response);
    EXPECT_FALSE(response);
    EXPECT_EQ(m_manager.GetContextCountForTest(), 1u);
}

TEST_F(ContextMgrTest, ADuplicateSequenceKeepsTheFirstContext)
{
    CRefPtr<CSyncContext> first(new CSyncContext(0x80000020u));
    CRefPtr<CSyncContext> second(new CSyncContext(0x80000020u));
    m_manager.AddContext(first);
    m_manager.AddContext(second);
    m_manager.QueryContext(MakeResponse(5, 0x80000020u));
    Drain(m_manager);

    CRefPtr<CMessageResponse> response;
    first->GetResponse(response);
    EXPECT_TRUE(response);
    second->GetResponse(response);
    EXPECT_FALSE(response);
    EXPECT_EQ(m_manager.GetContextCountForTest(), 1u);
}

TEST_F(ContextMgrTest, FinalizeReleasesEveryContextStillInTheTableAndANullOneIsNeverAdded)
{
    CRefPtr<CSyncContext> context(new CSyncContext(0x80000030u));
    m_manager.AddContext(context);
    EXPECT_EQ(m_manager.AddContext(CRefPtr<CSyncContext>()), kResultNotStarted);
    Drain(m_manager);
    EXPECT_EQ(context->GetReference(), 2u);
    EXPECT_EQ(m_manager.GetContextCountForTest(), 1u);

    m_manager.Finalize();
    EXPECT_EQ(context->GetReference(), 1u);
    EXPECT_EQ(m_manager.AddContext(context), kResultNotStarted);
}

TEST(ContextMgrStopped, OperationsWithoutAThreadDoNothing)
{
    CContextMgr manager;
    CRefPtr<CSyncContext> context(new CSyncContext(0x80000040u));
    EXPECT_EQ(manager.AddContext(context), kResultNotStarted);
    EXPECT_EQ(manager.RemoveContext(1), kResultNotStarted);
    EXPECT_EQ(manager.QueryContext(MakeResponse(1, 0x80000040u)), kResultNotStarted);
    EXPECT_EQ(context->GetReference(), 1u);
}

TEST(SyncContext, WaitTimesOutWithoutAnAnswerAndASignalBeforeTheWaitIsSeen)
{
    CRefPtr<CSyncContext> context(new CSyncContext(0x80000050u));
    EXPECT_NE(context->Wait(0), 0);
    context->SetResponse(MakeResponse(1, 0x80000050u));
    EXPECT_EQ(context->Wait(0), 0);
}

}  // namespace
}  // namespace PELLAX
}  // namespace ORV
