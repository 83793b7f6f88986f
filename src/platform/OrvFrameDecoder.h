// Splits the received byte stream into frames: a 4-byte big-endian length N, then N bytes.
//
// A small state machine: collecting the length, then collecting the body. A body that arrives whole
// inside one read is copied once into its own block (or the thread's spare); a body spread over reads
// grows a block only as fast as its bytes arrive, so a peer announcing 64 MiB and sending little
// costs little.
#ifndef PELLAX_PLATFORM_ORV_FRAME_DECODER_H
#define PELLAX_PLATFORM_ORV_FRAME_DECODER_H

#include <cstddef>
#include <cstdint>

#include "platform/OrvMessageBlock.h"

class IOrvFrameSink {
public:
    virtual ~IOrvFrameSink() = default;
    // One whole frame; false stops the decoding (the connection went away meanwhile).
    virtual bool OnFrame(COrvMessageBlock* frame) = 0;
};

class COrvFrameDecoder {
public:
    enum Result { kOk, kStopped, kBadLength, kNoMemory };
    // Frames up to this size are decoded into the spare block when it is large enough, and one the
    // sink did not keep becomes the next spare.
    static constexpr size_t kSpareBytes = 16 * 1024;

    // spare: a block slot of the decoding thread, shared by its decoders (or none); a stream of
    // frames that the sink does not keep then allocates nothing.
    explicit COrvFrameDecoder(MessageBlockPtr* spare = nullptr) : m_pSpare(spare) {}

    // Consumes n received bytes, handing every completed frame to the sink.
    Result Feed(const uint8_t* data, size_t n, IOrvFrameSink* sink);

private:
    size_t TakeLength(const uint8_t* data, size_t n, Result* result);
    size_t TakeBody(const uint8_t* data, size_t n, Result* result);
    Result Deliver(IOrvFrameSink* sink);
    MessageBlockPtr NewBody(size_t used);

    enum class State { kLength, kBody };

    State m_state = State::kLength;
    uint8_t m_lengthBytes[4] = {};
    size_t m_nLengthHave = 0;          // kLength: bytes of the prefix collected so far
    size_t m_nBodyLength = 0;          // kBody: N of the frame being collected
    CRefPtr<COrvMessageBlock> m_body;  // kBody: the part received so far, once a byte came
    MessageBlockPtr* m_pSpare;
};

#endif
