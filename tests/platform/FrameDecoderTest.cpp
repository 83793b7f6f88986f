// The stream decoder and the blocks it fills are the first code hostile bytes reach: every stream is
// fed whole, split at every offset, and one byte at a time, and must give the same frames and outcome.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/OrvFrameDecoder.h"
#include "platform/OrvMessageBlock.h"
#include "platform/OrvSession.h"

namespace {

std::string Held(const COrvMessageBlock* block)
{
    return std::string(reinterpret_cast<const char*>(block->GetReadPtr()), block->GetLength());
}

struct SFrames : IOrvFrameSink {
    bool OnFrame(COrvMessageBlock* frame) override
    {
        frames.push_back(Held(frame));
        return frames.size() < stopAfter;
    }
    std::vector<std::string> frames;
    size_t stopAfter = SIZE_MAX;
};

std::string Prefix(uint32_t n)
{
    return {char(n >> 24), char(n >> 16), char(n >> 8), char(n)};
}

std::string Frame(const std::string& body)
{
    return Prefix(static_cast<uint32_t>(body.size())) + body;
}

// Feeds the pieces in turn and stops at the first outcome other than kOk, as the connection does.
COrvFrameDecoder::Result FeedPieces(const std::vector<std::string>& pieces, SFrames* sink)
{
    COrvFrameDecoder decoder;
    for (const std::string& piece : pieces) {
        auto result = decoder.Feed(reinterpret_cast<const uint8_t*>(piece.data()), piece.size(), sink);
        if (result != COrvFrameDecoder::kOk) {
            return result;
        }
    }
    return COrvFrameDecoder::kOk;
}

TEST(FrameDecoder, EveryStreamGivesTheSameFramesAndOutcomeHoweverItIsSplit)
{
    const std::string big(70000, 'b');  // more than a partial body's first block
    const struct {
        const char* name;
        std::string stream;
        std::vector<std::string> frames;
        COrvFrameDecoder::Result result;
        size_t stopAfter = SIZE_MAX;  // the sink refuses frames after this many
    } cases[] = {
        {"one byte", Frame("x"), {"x"}, COrvFrameDecoder::kOk},
        {"packed", Frame("abc") + Frame("de"), {"abc", "de"}, COrvFrameDecoder::kOk},
        {"big body", Frame(big) + Frame("z"), {big, "z"}, COrvFrameDecoder::kOk},
        {"prefix is big-endian", Prefix(0x102) + std::string(0x102, 'q'), {std::string(0x102, 'q')},
         COrvFrameDecoder::kOk},
        {"unfinished body waits", Frame("ok") + Prefix(10) + "abc", {"ok"}, COrvFrameDecoder::kOk},
        {"unfinished prefix waits", Frame("ok") + Prefix(10).substr(0, 3), {"ok"}, COrvFrameDecoder::kOk},
        {"zero length", Frame("ok") + Prefix(0) + Frame("never"), {"ok"}, COrvFrameDecoder::kBadLength},
        {"largest length waits", Prefix(ORV_MAX_FRAME_LENGTH) + "abc", {}, COrvFrameDecoder::kOk},
        {"one over the largest", Frame("ok") + Prefix(ORV_MAX_FRAME_LENGTH + 1) + "abc", {"ok"},
         COrvFrameDecoder::kBadLength},
        {"top bit set", Prefix(0x80000001u) + "a", {}, COrvFrameDecoder::kBadLength},
        {"sink stops", Frame("a") + Frame("b"), {"a"}, COrvFrameDecoder::kStopped, 1},
    };
    for (const auto& c : cases) {
        const std::string& s = c.stream;
        std::vector<std::vector<std::string>> splits{{s}};
        for (size_t at = 1; at < s.size() && s.size() < 200; ++at) {
            splits.push_back({s.substr(0, at), s.substr(at)});
            splits.push_back({s.substr(0, at - 1), s.substr(at - 1, 1), s.substr(at)});
        }
        std::vector<std::string> bytes;
        for (char ch : s) {
            bytes.emplace_back(1, ch);
        }
        splits.push_back(bytes);
        for (const auto& pieces : splits) {
            SFrames sink;
            sink.stopAfter = c.stopAfter;
            const std::string where = std::string(c.name) + ", " + std::to_string(pieces.size()) + " pieces, first " +
                                      std::to_string(pieces[0].size());
            EXPECT_EQ(FeedPieces(pieces, &sink), c.result) << where;
            EXPECT_EQ(sink.frames, c.frames) << where;
        }
    }
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
    EXPECT_EQ(Held(block.Get()), "bc");
    EXPECT_NE(block->SetWritePos(0), 0) << "below the read position";
    EXPECT_NE(block->SetWritePos(block->GetCapacity() + 1), 0);
    EXPECT_EQ(block->GetWritePos(), 3u);
    // Moving the write position forward exposes zeros, never stale memory.
    ASSERT_EQ(block->SetWritePos(5), 0);
    EXPECT_EQ(Held(block.Get()), std::string("bc\0\0", 4));
    ASSERT_EQ(block->SetWritePos(2), 0);
    EXPECT_EQ(Held(block.Get()), "b");
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
    EXPECT_EQ(Held(block.Get()), expected);
    // Only what the other block still holds is appended.
    MessageBlockPtr body = COrvMessageBlock::Create("skipbody", 8);
    ASSERT_EQ(body->SetReadPos(4), 0);
    EXPECT_EQ(block->Append(body.Get(), 1), 0);
    EXPECT_EQ(Held(block.Get()), expected + "body");
    EXPECT_EQ(Held(body.Get()), "body");
    EXPECT_NE(block->Append(nullptr, 1), 0);
    // The buffer must grow for this, so the source bytes move while they are being copied.
    body = COrvMessageBlock::Create(4);
    ASSERT_EQ(body->Write("wxyz", 4), 0);
    EXPECT_EQ(body->Append(body.Get(), 1), 0);
    EXPECT_EQ(Held(body.Get()), "wxyzwxyz");
}

}  // namespace
