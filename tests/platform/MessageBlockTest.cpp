#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/OrvMessageBlock.h"

namespace {

std::string Held(const MessageBlockPtr& block)
{
    return std::string(reinterpret_cast<const char*>(block->GetReadPtr()), block->GetLength());
}

TEST(MessageBlock, ReadsAndPositionsStayWithinTheDataAndTheCapacity)
{
    MessageBlockPtr block = COrvMessageBlock::Create("abcd", 4);
    ASSERT_TRUE(block);
    char out[8] = {'x'};
    EXPECT_NE(block->Read(out, 5), 0);
    EXPECT_EQ(block->GetLength(), 4u);
    EXPECT_EQ(out[0], 'x');
    EXPECT_EQ(block->Read(out, 3), 0);
    EXPECT_EQ(std::string(out, 3), "abc");
    EXPECT_NE(block->Read(out, 2), 0);
    EXPECT_NE(block->Read(out, static_cast<size_t>(-1)), 0) << "a count that would wrap the arithmetic";
    EXPECT_EQ(block->GetReadPos(), 3u);
    EXPECT_EQ(block->Read(out, 1), 0);
    EXPECT_EQ(out[0], 'd');
    EXPECT_NE(block->Read(out, 1), 0);
    EXPECT_EQ(block->Read(nullptr, 0), 0);
    EXPECT_NE(block->Write(nullptr, 1), 0);

    block = COrvMessageBlock::Create(8);
    ASSERT_EQ(block->Write("abc", 3), 0);
    EXPECT_NE(block->SetReadPos(4), 0);
    EXPECT_EQ(block->SetReadPos(1), 0);
    EXPECT_EQ(Held(block), "bc");
    EXPECT_NE(block->SetWritePos(0), 0) << "below the read position";
    EXPECT_NE(block->SetWritePos(block->GetCapacity() + 1), 0);
    EXPECT_EQ(block->GetWritePos(), 3u);
    // Moving the write position forward exposes zeros, never stale memory.
    ASSERT_EQ(block->SetWritePos(5), 0);
    EXPECT_EQ(Held(block), std::string("bc\0\0", 4));
    ASSERT_EQ(block->SetWritePos(2), 0);
    EXPECT_EQ(Held(block), "b");
}

TEST(MessageBlock, WriteAndAppendGrowTheBufferAndKeepEarlierBytes)
{
    MessageBlockPtr block = COrvMessageBlock::Create(2);
    ASSERT_TRUE(block);
    std::string expected;
    for (int i = 0; i < 100; ++i) {
        std::string piece = std::to_string(i) + ",";
        ASSERT_EQ(block->Write(piece.data(), piece.size()), 0);
        expected += piece;
    }
    EXPECT_EQ(Held(block), expected);
    // Only what the other block still holds is appended.
    MessageBlockPtr body = COrvMessageBlock::Create("skipbody", 8);
    ASSERT_EQ(body->SetReadPos(4), 0);
    EXPECT_EQ(block->Append(body.Get(), 1), 0);
    EXPECT_EQ(Held(block), expected + "body");
    EXPECT_EQ(Held(body), "body");
    EXPECT_NE(block->Append(nullptr, 1), 0);
    // The buffer must grow for this, so the source bytes move while they are being copied.
    body = COrvMessageBlock::Create(4);
    ASSERT_EQ(body->Write("wxyz", 4), 0);
    EXPECT_EQ(body->Append(body.Get(), 1), 0);
    EXPECT_EQ(Held(body), "wxyzwxyz");
}

}  // namespace
