// Arbitrary bytes as a received frame, and as control bodies for both sides' readers. A frame that
// decodes must hold every byte its header announces.
#include <cstdlib>
#include <string>

#include "protocol/ControlMessage.h"
#include "protocol/FrameCodec.h"

using namespace ORV::PELLAX;

namespace {
void ReadBodies(const uint8_t* body, size_t length)
{
    std::string params;
    ReadParams(body, length, &params);
    ControlResponseData data;
    ReadData(body, length, &data);
}

void CheckDecodedFrame(COrvMessageBlock& block, CPellaxMessageHeader& header)
{
    uint64_t extTotal = 0;
    for (const CPellaxExtMessageHeader& entry : header.ExtHeaders()) {
        extTotal += entry.HasData() ? entry.GetSize() : (std::abort(), 0);
    }
    extTotal != header.GetExtLength() || block.GetLength() < header.GetBodyLength() ? std::abort() : void();
    ReadBodies(block.GetReadPtr(), header.GetBodyLength());
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    MessageBlockPtr block = COrvMessageBlock::Create(data, size);
    MessageHeaderPtr header;
    if (block && DecodeFrame(block.Get(), &header) == 0) {
        CheckDecodedFrame(*block, *header);
    }
    ReadBodies(data, size);
    return 0;
}
