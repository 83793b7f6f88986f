#include "client/ClientMessage.h"

#include <cstring>
#include <new>

#include "protocol/FrameCodec.h"

namespace ORV {
namespace PELLAX {

namespace {
unsigned char* NewBytes(size_t length)
{
    return new (std::nothrow) unsigned char[length > 0 ? length : 1];
}

// Library memory, released by the host with PELLAX_FreeBuffer (an array release).
PELLAX_MessageExt* NewExtNode(PELLAX_Allocator allocator)
{
    void* memory = allocator != nullptr ? allocator(sizeof(PELLAX_MessageExt)) : NewBytes(sizeof(PELLAX_MessageExt));
    if (memory == nullptr) {
        return nullptr;
    }
    std::memset(memory, 0, sizeof(PELLAX_MessageExt));
    return static_cast<PELLAX_MessageExt*>(memory);
}

void PrependExtNodes(const CPellaxMessageHeader& header, PELLAX_Message* record)
{
    for (const CPellaxExtMessageHeader& entry : header.ExtHeaders()) {
        unsigned char* data = nullptr;
        if (entry.GetLength() > 0) {
            data = NewBytes(entry.GetLength());
            if (data == nullptr) {
                continue;
            }
            std::memcpy(data, entry.GetDataPtr(), entry.GetLength());
        }
        PELLAX_MessageExt* node = NewExtNode(record->allocator);
        if (node == nullptr) {
            delete[] data;
            continue;
        }
        node->type = entry.GetType();
        node->length = entry.GetLength();
        node->data = data;
        node->next = record->ext;
        record->ext = node;
    }
}
}  // namespace

int BuildRequestFrame(const PELLAX_Message& request, bool withEmptyBody, MessageHeaderPtr* header,
                      MessageBlockPtr* body)
{
    int result = CreateMessageHeader(request, header);
    if (result != 0) {
        return result;
    }
    if (request.dataLength > 0 || withEmptyBody) {
        *body = COrvMessageBlock::Create(request.data, static_cast<size_t>(request.dataLength));
        if (!*body) {
            return -3;
        }
    }
    return 0;
}

int FillResponseRecord(uint32_t requestSequence, const CMessageResponse& response, PELLAX_Message* record)
{
    const CPellaxMessageHeader& header = *response.GetHeader();
    uint32_t length = header.GetBodyLength();
    record->sequence = requestSequence;
    record->dataLength = static_cast<int32_t>(length);
    record->command = header.GetCommand();
    record->timestamp = header.GetTimestamp();
    record->flag = header.GetFlag();
    PrependExtNodes(header, record);
    record->data = nullptr;
    if (length == 0) {
        return 0;
    }
    void* data = record->allocator != nullptr ? record->allocator(length) : NewBytes(length);
    if (data == nullptr) {
        return -3;
    }
    const MessageBlockPtr& body = response.GetBody();
    std::memcpy(data, body->GetReadPtr(), length);
    record->data = static_cast<unsigned char*>(data);
    return 0;
}

bool FillNotifyRecord(const CPellaxMessageHeader& header, COrvMessageBlock* block,
                      std::vector<PELLAX_MessageExt>& nodes, PELLAX_Message* record)
{
    const std::vector<CPellaxExtMessageHeader>& entries = header.ExtHeaders();
    try {
        nodes.resize(entries.size());
    } catch (const std::bad_alloc&) {
        return false;
    }
    std::memset(record, 0, sizeof(*record));
    record->command = header.GetCommand();
    record->dataLength = static_cast<int32_t>(header.GetBodyLength());
    record->sequence = header.GetSequence();
    record->timestamp = header.GetTimestamp();
    record->flag = header.GetFlag();
    record->data = const_cast<unsigned char*>(block->GetReadPtr());
    // Each entry goes in front of the list, so the host sees them in reverse frame order.
    for (size_t i = 0; i < entries.size(); ++i) {
        PELLAX_MessageExt& node = nodes[i];
        node.type = entries[i].GetType();
        node.length = entries[i].GetLength();
        node.data = const_cast<unsigned char*>(entries[i].GetDataPtr());
        node.next = record->ext;
        record->ext = &node;
    }
    return true;
}

}  // namespace PELLAX
}  // namespace ORV
