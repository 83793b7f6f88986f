// Whole frames for the send and receive paths: a header from a host record, a header and its body
// encoded into the one block the transport sends, and a received block decoded into a header.
// Results use the exported codes: 0, -3 (memory ran out), -4 (the message cannot be framed).
#ifndef PELLAX_PROTOCOL_FRAME_CODEC_H
#define PELLAX_PROTOCOL_FRAME_CODEC_H

#include <cstddef>
#include <cstdint>
#include <string>

#include "pellax.h"
#include "platform/OrvMessageBlock.h"
#include "platform/OrvSpare.h"
#include "protocol/PellaxMessageHeader.h"

namespace ORV {
namespace PELLAX {

// Command, data length, sequence, low 8 bits of the flag and one extension entry per node in list
// order. -4 for a negative data length, a node announcing bytes without data, or nodes totalling
// more than 65535 encoded bytes (checked before anything is copied). The header may live on the
// caller's stack: a send needs it only while its frame is encoded, which spares an allocation.
int FillMessageHeader(const PELLAX_Message& message, CPellaxMessageHeader* header);

// Header, then body, in one new block (or the spare's). PELLAX_E_INVALID for a null header, a body length other
// than the header's, or extension entries too long to frame.
int EncodeFrame(CPellaxMessageHeader* header, const void* body, size_t bodyLength, bool skipTrace,
                MessageBlockPtr* frame, COrvSpareT<COrvMessageBlock>* spare = nullptr);
int EncodeFrame(CPellaxMessageHeader* header, const COrvMessageBlock* body, bool skipTrace, MessageBlockPtr* frame);
// The header alone, for a body of bodyLength bytes that travels apart from it (IOrvClientSession::SendSplit).
int EncodeFrameHead(CPellaxMessageHeader* header, size_t bodyLength, MessageBlockPtr* head,
                    COrvSpareT<COrvMessageBlock>* spare);
// Keeps a sent frame's block for the next EncodeFrame once the transport let go of it, unless it is
// large: a spare must not hold a large frame's memory for good.
void KeepFrameBlock(MessageBlockPtr frame, COrvSpareT<COrvMessageBlock>& spare);

// A control frame (command 0, 1, 10 or 11): flag 0, no extension entries, the JSON text as body. The
// two ways to fail are told apart, as each side logs them apart.
enum class ControlFrameResult { kBuilt, kNoHeader, kNoBlock };
ControlFrameResult BuildControlFrame(uint32_t command, uint32_t sequence, const std::string& body,
                                     MessageBlockPtr* frame);

// Decodes the header at the block's read position; on 0 the read position stands at the body and
// at least GetBodyLength() bytes follow it. Otherwise CPellaxMessageHeader::kShortFrame (drop the
// frame), PELLAX_E_NO_RESOURCE, or PELLAX_E_INVALID for a null block. The header is decoded into the
// spare's when there is one: give it back there once the frame was handed on.
int DecodeFrame(COrvMessageBlock* frame, MessageHeaderPtr* header, COrvSpareT<CPellaxMessageHeader>* spare = nullptr);

}  // namespace PELLAX
}  // namespace ORV

#endif
