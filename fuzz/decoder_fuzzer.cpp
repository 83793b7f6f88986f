// Arbitrary received bytes into the stream decoder, cut into reads where the input says. Whatever
// the cuts, the frames and the outcome must match one feed of the whole stream, and every frame
// must hold exactly the bytes its prefix announced.
#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/OrvFrameDecoder.h"
#include "platform/OrvSession.h"

namespace {
struct SFrames : IOrvFrameSink {
    bool OnFrame(COrvMessageBlock* frame) override
    {
        frame == nullptr || frame->GetLength() == 0 || frame->GetLength() > ORV_MAX_FRAME_LENGTH ? std::abort() : void();
        frames.emplace_back(reinterpret_cast<const char*>(frame->GetReadPtr()), frame->GetLength());
        return true;
    }
    std::vector<std::string> frames;
};
}

// Input: one byte giving the step between cuts (0 feeds byte by byte), then the stream.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    size_t step = size < 1 ? 0 : std::max<size_t>(data[0], 1);
    SFrames whole, cut;
    COrvFrameDecoder one, pieces;
    COrvFrameDecoder::Result expected = step == 0 ? COrvFrameDecoder::kOk : one.Feed(data + 1, size - 1, &whole);
    COrvFrameDecoder::Result result = COrvFrameDecoder::kOk;
    for (size_t at = 1; at < size && result == COrvFrameDecoder::kOk; at += step) {
        result = pieces.Feed(data + at, std::min(step, size - at), &cut);
    }
    // The frames are the stream's own bytes, each after its 4-byte big-endian length.
    size_t at = 1;
    for (const std::string& frame : whole.frames) {
        uint32_t n = uint32_t(data[at]) << 24 | uint32_t(data[at + 1]) << 16 | uint32_t(data[at + 2]) << 8 | data[at + 3];
        n != frame.size() || frame.compare(0, n, reinterpret_cast<const char*>(data + at + 4), n) != 0 ? std::abort() : void();
        at += 4 + n;
    }
    result != expected || cut.frames != whole.frames ? std::abort() : void();
    return 0;
}
