#include "client/ClientMessage.h"

#include <cstring>
#include <new>

#include "protocol/FrameCodec.h"
#include "frame/ResultCodes.h"

namespace ORV {
namespace PELLAX {

namespace {
unsigned char* NewBytes(size_t length)
{
    return new (std::nothrow) unsigned char[length > 0 ? length : 1];
}

// Everything a response record hands over (body, extension nodes and their data) comes from the
// record's allocator when it has one, else from the library (released with PELLAX_FreeBuffer).
void* NewHostBytes(PELLAX_Allocator allocator, size_t length)
{
    return allocator != nullptr ? allocator(length) : NewBytes(length);
}

void ReleaseHostBytes(PELLAX_Allocator allocator, void* memory)
{
    // Memory of the host's allocator is the host's to free; only the library's own goes back here.
    if (allocator == nullptr) {
        delete[] static_cast<unsigned char*>(memory);
    }
}

void PrependExtNodes(const CPellaxMessageHeader& header, PELLAX_Message* record)
{
    for (const CPellaxExtMessageHeader& entry : header.ExtHeaders()) {
        void* data = nullptr;
        if (entry.GetLength() > 0) {
            data = NewHostBytes(record->allocator, entry.GetLength());
            if (data == nullptr) {
                continue;
            }
            std::memcpy(data, entry.GetDataPtr(), entry.GetLength());
        }
        auto* node = static_cast<PELLAX_MessageExt*>(NewHostBytes(record->allocator, sizeof(PELLAX_MessageExt)));
        if (node == nullptr) {
            ReleaseHostBytes(record->allocator, data);
            continue;
        }
        std::memset(node, 0, sizeof(PELLAX_MessageExt));
        node->type = entry.GetType();
        node->length = entry.GetLength();
        node->data = static_cast<unsigned char*>(data);
        node->next = record->ext;
        record->ext = node;
    }
}
}  // namespace

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
    void* data = NewHostBytes(record->allocator, length);
    if (data == nullptr) {
        return PELLAX_E_NO_RESOURCE;
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
