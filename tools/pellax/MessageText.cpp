#include "MessageText.h"

#include "Terminal.h"

namespace pellax_tool {

std::string ServerNotificationName(unsigned int type)
{
    switch (type) {
    case 0: return "data";
    case 1: return "joined";
    case 3: return "left";
    case 4: return "left or silent";
    case 5: return "registered";
    case 6: return "keepalive";
    default: return Format("type %u", type);
    }
}

std::string ClientEventName(unsigned int type)
{
    switch (type) {
    case 0: return "data";
    case 1: return "connected";
    case 2: return "connect failed";
    case 3: return "disconnected";
    case 4: return "server silent";
    case 5: return "registered";
    case 6: return "keepalive answered";
    default: return Format("event %u", type);
    }
}

std::string Preview(const unsigned char* data, int length, size_t limit)
{
    std::string text;
    if (data == nullptr || length <= 0) {
        return text;
    }
    for (int i = 0; i < length && text.size() < limit; ++i) {
        unsigned char c = data[i];
        text.push_back(c >= 0x20 && c < 0x7F ? static_cast<char>(c) : '.');
    }
    if (static_cast<size_t>(length) > limit) {
        text += "...";
    }
    return text;
}

std::string DescribeMessage(const PELLAX_Message* message)
{
    if (message == nullptr) {
        return "";
    }
    std::string text = Format("cmd=%u seq=0x%08x len=%d flag=%d", message->command, message->sequence,
                              message->dataLength, message->flag);
    if (message->ext != nullptr) {
        text += " ext=[";
        for (const PELLAX_MessageExt* node = message->ext; node != nullptr; node = node->next) {
            text += Format("%s%u:%s", node == message->ext ? "" : ",", node->type,
                           Preview(node->data, static_cast<int>(node->length), 16).c_str());
        }
        text += "]";
    }
    if (message->dataLength > 0) {
        text += " \"" + Preview(message->data, message->dataLength) + "\"";
    }
    return text;
}

}  // namespace pellax_tool
