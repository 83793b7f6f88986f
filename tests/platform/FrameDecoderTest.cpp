// The stream decoder is the first code hostile bytes reach: every stream is fed whole, split at
// every offset, and one byte at a time, and must give the same frames and the same outcome.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/OrvFrameDecoder.h"
#include "platform/OrvSession.h"

namespace {

struct SFrames : IOrvFrameSink {
    bool OnFrame(COrvMessageBlock* frame) override
    {
        frames.emplace_back(reinterpret_cast<const char*>(frame->GetReadPtr()), frame->GetLength());
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
            EXPECT_EQ(FeedPieces(pieces, &sink), c.result) << c.name << ", " << pieces.size() << " pieces, first "
                                                           << pieces[0].size();
            EXPECT_EQ(sink.frames, c.frames) << c.name << ", " << pieces.size() << " pieces, first "
                                             << pieces[0].size();
        }
    }
}

}  // namespace
