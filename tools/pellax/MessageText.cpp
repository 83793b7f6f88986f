#include "MessageText.h"

#include "Terminal.h"

namespace pellax_tool {

std::string ServerNotificationName(unsigned int type)
{
    switch (type) {
    case PELLAX_SERVER_NOTIFY_DATA: return "data";
    case PELLAX_SERVER_NOTIFY_JOINED: return "joined";
    case PELLAX_SERVER_NOTIFY_LEFT: return "left or silent";
    case PELLAX_SERVER_NOTIFY_REGISTERED: return "registered";
    case PELLAX_SERVER_NOTIFY_KEEPALIVE: return "keepalive";
    default: return Format("type %u", type);
    }
}

std::string ClientEventName(unsigned int type)
{
    switch (type) {
    case PELLAX_CLIENT_EVENT_DATA: return "data";
    case PELLAX_CLIENT_EVENT_CONNECTED: return "connected";
    case PELLAX_CLIENT_EVENT_CONNECT_FAILED: return "connect failed";
    case PELLAX_CLIENT_EVENT_DISCONNECTED: return "disconnected";
    case PELLAX_CLIENT_EVENT_SERVER_SILENT: return "server silent";
    case PELLAX_CLIENT_EVENT_REGISTERED: return "registered";
    case PELLAX_CLIENT_EVENT_KEEPALIVE: return "keepalive answered";
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
