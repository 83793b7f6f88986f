// The stream decoder and the blocks it fills are the first code hostile bytes reach: every stream is
// fed whole, split at every offset, and one byte at a time, and must give the same frames and outcome.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
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

TEST(FrameDecoder, EveryStreamGivesTheSameFramesAndOutcomeHoweverItIsSplit)
{
    using R = COrvFrameDecoder::Result;
    const std::string big(70000, 'b');  // more than a partial body's first block
    // stream, frames, outcome, frames the sink takes before it refuses one
    const std::tuple<std::string, std::vector<std::string>, R, size_t> cases[] = {
        {Frame("x"), {"x"}, R::kOk, SIZE_MAX},
        {Frame("abc") + Frame("de"), {"abc", "de"}, R::kOk, SIZE_MAX},
        {Frame(big) + Frame("z"), {big, "z"}, R::kOk, SIZE_MAX},
        {Prefix(0x102) + std::string(0x102, 'q'), {std::string(0x102, 'q')}, R::kOk, SIZE_MAX},
        {Frame("ok") + Prefix(10) + "abc", {"ok"}, R::kOk, SIZE_MAX},
        {Frame("ok") + Prefix(10).substr(0, 3), {"ok"}, R::kOk, SIZE_MAX},
        {Frame("ok") + Prefix(0) + Frame("never"), {"ok"}, R::kBadLength, SIZE_MAX},
        {Prefix(ORV_MAX_FRAME_LENGTH) + "abc", {}, R::kOk, SIZE_MAX},
        {Frame("ok") + Prefix(ORV_MAX_FRAME_LENGTH + 1) + "abc", {"ok"}, R::kBadLength, SIZE_MAX},
        {Prefix(0x80000001u) + "a", {}, R::kBadLength, SIZE_MAX},
        {Frame("a") + Frame("b"), {"a"}, R::kStopped, 1},
    };
    for (const auto& [s, frames, outcome, stopAfter] : cases) {
        std::vector<std::vector<std::string>> splits{{s}, {}};
        for (char ch : s) {
            splits[1].emplace_back(1, ch);
        }
        for (size_t at = 1; at < s.size() && s.size() < 200; ++at) {
            splits.push_back({s.substr(0, at), s.substr(at)});
            splits.push_back({s.substr(0, at - 1), s.substr(at - 1, 1), s.substr(at)});
        }
        for (const auto& pieces : splits) {
            COrvFrameDecoder decoder;
            SFrames sink;
            sink.stopAfter = stopAfter;
            R result = R::kOk;  // the connection stops at the first other outcome
            for (size_t i = 0; i < pieces.size() && result == R::kOk; ++i) {
                result = decoder.Feed(reinterpret_cast<const uint8_t*>(pieces[i].data()), pieces[i].size(), &sink);
            }
            EXPECT_EQ(std::make_tuple(result, sink.frames), std::make_tuple(outcome, frames))
                << s.substr(0, 16) << ", " << pieces.size() << " pieces, first " << pieces[0].size();
        }
    }
}

// Two connections of one thread share its spare block: frames split across reads on both, frames the
// sink keeps, and frames too large for the spare must all come out with their own bytes.
TEST(FrameDecoder, ConnectionsSharingTheThreadsSpareBlockKeepEveryFramesBytes)
{
    struct SKeeper : IOrvFrameSink {
        bool OnFrame(COrvMessageBlock* frame) override
        {
            if (++count % 2 == 0) {
                kept.emplace_back(frame, Held(frame));
            }
            seen.push_back(Held(frame));
            return true;
        }
        size_t count = 0;
        std::vector<std::pair<MessageBlockPtr, std::string>> kept;
        std::vector<std::string> seen;
    };
    MessageBlockPtr spare;
    COrvFrameDecoder decoders[2] = {COrvFrameDecoder(&spare), COrvFrameDecoder(&spare)};
    SKeeper sink;
    std::vector<std::string> expected;
    const size_t sizes[] = {1, 300, 20000, 5000, 64, 16383};
    for (int i = 0; i < 24; ++i) {
        std::string body(sizes[i % 6], char('a' + i));
        std::string bytes = Frame(body);
        // Each connection gets half a frame, then the other's turn, so both hold partial bodies at once.
        COrvFrameDecoder& decoder = decoders[i % 2];
        size_t half = bytes.size() / 2;
        auto feed = [&](size_t from, size_t n) {
            ASSERT_EQ(decoder.Feed(reinterpret_cast<const uint8_t*>(bytes.data() + from), n, &sink),
                      COrvFrameDecoder::kOk);
        };
        feed(0, half);
        std::string other = Frame(std::string(3, char('A' + i)));
        expected.push_back(other.substr(4));
        expected.push_back(body);
        ASSERT_EQ(decoders[1 - i % 2].Feed(reinterpret_cast<const uint8_t*>(other.data()), other.size(), &sink),
                  COrvFrameDecoder::kOk);
        feed(half, bytes.size() - half);
    }
    EXPECT_EQ(sink.seen, expected);
    for (const auto& [frame, bytes] : sink.kept) {
        EXPECT_EQ(Held(frame.Get()), bytes) << "a kept frame was overwritten by a later one";
    }
    EXPECT_TRUE(spare) << "frames nobody kept leave the spare for the next";
}

TEST(MessageBlock, ReadsAndPositionsStayWithinTheDataAndAGrowingSelfAppendKeepsItsBytes)
{
    MessageBlockPtr block = COrvMessageBlock::Create("wxyz", 4);
    char out[4] = {'a'};
    EXPECT_NE(block->Read(out, 5), 0);
    EXPECT_NE(block->Read(out, static_cast<size_t>(-1)), 0) << "a count that would wrap the arithmetic";
    EXPECT_EQ(block->Read(out, 1), 0);
    EXPECT_NE(block->Read(out, 4), 0);
    EXPECT_EQ(out[0], 'w');
    EXPECT_NE(block->SetReadPos(5), 0);
    EXPECT_NE(block->SetWritePos(0), 0) << "below the read position";
    EXPECT_NE(block->SetWritePos(block->GetCapacity() + 1), 0);
    EXPECT_NE(block->Append(nullptr, 1), 0);
    // The buffer must grow, so the source bytes move while they are being copied.
    EXPECT_EQ(block->Append(block.Get(), 1), 0);
    // Moving the write position forward exposes zeros, never stale memory.
    ASSERT_EQ(block->SetWritePos(block->GetCapacity()), 0);
    EXPECT_EQ(Held(block.Get()), "xyzxyz" + std::string(block->GetCapacity() - 7, '\0'));
}

}  // namespace
