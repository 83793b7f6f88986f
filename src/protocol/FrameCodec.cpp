#include "protocol/FrameCodec.h"
#include "frame/ResultCodes.h"

#include <new>
#include <utility>

namespace ORV {
namespace PELLAX {

namespace {

// Larger sent blocks are not kept for the next frame.
constexpr size_t kSpareFrameBytes = 16 * 1024;

// Bounded by the 16-bit area, so a list that loops back on itself ends here too.
bool ExtListFits(const PELLAX_MessageExt* node)
{
    uint64_t total = 0;
    for (; node != nullptr; node = node->next) {
        if (node->length > 0 && node->data == nullptr) {
            return false;
        }
        total += CPellaxExtMessageHeader::kFixedSize + static_cast<uint64_t>(node->length);
        if (total > CPellaxMessageHeader::kMaxExtLength) {
            return false;
        }
    }
    return true;
}

MessageBlockPtr NewBlock(size_t size, COrvSpareT<COrvMessageBlock>* spare)
{
    MessageBlockPtr block = spare != nullptr ? spare->Take() : MessageBlockPtr();
    if (!block || block->GetCapacity() < size) {
        return COrvMessageBlock::Create(size);
    }
    block->SetReadPos(0);
    block->SetWritePos(0);
    return block;
}

// The encoded header in a block with room for `room` more bytes.
int NewFrame(CPellaxMessageHeader* header, size_t bodyLength, size_t room, bool skipTrace, MessageBlockPtr* frame,
             COrvSpareT<COrvMessageBlock>* spare)
{
    if (header == nullptr || frame == nullptr || bodyLength != header->GetBodyLength() ||
        !header->HasValidExtLength()) {
        return PELLAX_E_INVALID;
    }
    size_t size = static_cast<size_t>(header->GetHeaderSize()) + room;
    MessageBlockPtr block = NewBlock(size, spare);
    if (!block) {
        return PELLAX_E_NO_RESOURCE;
    }
    if (header->Encode(block.Get(), skipTrace) != 0) {
        return PELLAX_E_INVALID;
    }
    *frame = std::move(block);
    return 0;
}
}

int FillMessageHeader(const PELLAX_Message& message, CPellaxMessageHeader* header)
{
    if (header == nullptr || message.dataLength < 0 || !ExtListFits(message.ext)) {
        return PELLAX_E_INVALID;
    }
    *header = CPellaxMessageHeader(message.command, static_cast<uint32_t>(message.dataLength), message.sequence,
                                   message.timestamp, static_cast<uint8_t>(message.flag), 0);
    for (const PELLAX_MessageExt* node = message.ext; node != nullptr; node = node->next) {
        CPellaxExtMessageHeader entry(node->type, node->length, node->data);
        if (!entry.HasData() || !header->AddExtHeader(entry)) {
            return PELLAX_E_NO_RESOURCE;
        }
    }
    return 0;
}

int EncodeFrame(CPellaxMessageHeader* header, const void* body, size_t bodyLength, bool skipTrace,
                MessageBlockPtr* frame, COrvSpareT<COrvMessageBlock>* spare)
{
    if (body == nullptr && bodyLength > 0) {
        return PELLAX_E_INVALID;
    }
    MessageBlockPtr block;
    int result = NewFrame(header, bodyLength, bodyLength, skipTrace, &block, spare);
    if (result != 0) {
        return result;
    }
    if (block->Write(body, bodyLength) != 0) {
        return PELLAX_E_NO_RESOURCE;
    }
    *frame = std::move(block);
    return 0;
}

int EncodeFrame(CPellaxMessageHeader* header, const COrvMessageBlock* body, bool skipTrace, MessageBlockPtr* frame)
{
    if (body == nullptr) {
        return PELLAX_E_INVALID;
    }
    return EncodeFrame(header, body->GetReadPtr(), body->GetLength(), skipTrace, frame);
}

int EncodeFrameHead(CPellaxMessageHeader* header, size_t bodyLength, MessageBlockPtr* head,
                    COrvSpareT<COrvMessageBlock>* spare)
{
    return NewFrame(header, bodyLength, 0, false, head, spare);
}

void KeepFrameBlock(MessageBlockPtr frame, COrvSpareT<COrvMessageBlock>& spare)
{
    if (frame && frame->GetCapacity() <= kSpareFrameBytes) {
        spare.Give(std::move(frame));
    }
}

ControlFrameResult BuildControlFrame(uint32_t command, uint32_t sequence, const std::string& body,
                                     MessageBlockPtr* frame)
{
    MessageHeaderPtr header(new (std::nothrow)
                                CPellaxMessageHeader(command, static_cast<uint32_t>(body.size()), sequence, 0, 0, 0));
    if (!header) {
        return ControlFrameResult::kNoHeader;
    }
    if (body.empty() || EncodeFrame(header.Get(), body.data(), body.size(), false, frame) != 0) {
        return ControlFrameResult::kNoBlock;
    }
    return ControlFrameResult::kBuilt;
}

int DecodeFrame(COrvMessageBlock* frame, MessageHeaderPtr* header, COrvSpareT<CPellaxMessageHeader>* spare)
{
    if (frame == nullptr || header == nullptr) {
        return PELLAX_E_INVALID;
    }
    // Decode sets every field of a reused header, extension entries included.
    MessageHeaderPtr decoded = spare != nullptr ? spare->Take() : MessageHeaderPtr();
    if (!decoded) {
        decoded = new (std::nothrow) CPellaxMessageHeader;
    }
    if (!decoded) {
        return PELLAX_E_NO_RESOURCE;
    }
    int result = decoded->Decode(frame);
    if (result != 0) {
        return result;
    }
    *header = std::move(decoded);
    return 0;
}

}  // namespace PELLAX
}  // namespace ORV
