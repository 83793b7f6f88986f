// Writes the frame fuzzer's seed corpus: one valid frame of each kind the library exchanges.
#include <cstdio>
#include <string>
#include <vector>

#include "protocol/ControlMessage.h"
#include "protocol/FrameCodec.h"

using namespace ORV::PELLAX;

namespace {
bool WriteFile(const std::string& path, const void* data, size_t length)
{
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) {
        return false;
    }
    bool written = std::fwrite(data, 1, length, file) == length;
    return std::fclose(file) == 0 && written;
}

bool WriteFrame(const std::string& path, const MessageBlockPtr& frame)
{
    return frame && WriteFile(path, frame->GetReadPtr(), frame->GetLength());
}

MessageBlockPtr Control(uint32_t command, const std::string& body)
{
    MessageBlockPtr frame;
    BuildControlFrame(command, 0x00000102, body, &frame);
    return frame;
}

MessageBlockPtr DataFrame(uint32_t command, uint32_t sequence)
{
    uint8_t a[] = {1, 2, 3};
    uint8_t c[] = {'x', 'y', 'z', 'w'};
    PELLAX_MessageExt third{30, sizeof(c), c, nullptr};
    PELLAX_MessageExt second{20, 0, nullptr, &third};
    PELLAX_MessageExt first{10, sizeof(a), a, &second};
    uint8_t body[] = "host bytes";
    PELLAX_Message message{};
    message.command = command;
    message.data = body;
    message.dataLength = sizeof(body) - 1;
    message.ext = &first;
    message.sequence = sequence;
    message.flag = 3;
    CPellaxMessageHeader header;
    MessageBlockPtr frame;
    if (FillMessageHeader(message, &header) == 0) {
        EncodeFrame(&header, body, sizeof(body) - 1, false, &frame);
    }
    return frame;
}
}

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s DIRECTORY\n", argv[0]);
        return 2;
    }
    std::string dir = std::string(argv[1]) + "/";
    const std::string params = R"({"method":"Register","params":{"pid":1,"userdata":{"k":[1,"v"]}}})";
    bool ok = WriteFrame(dir + "register", Control(0, BuildRegisterRequest(4242, R"({"k":[1,"v"]})"))) &&
              WriteFrame(dir + "keepalive", Control(10, BuildKeepaliveRequest(4242, ""))) &&
              WriteFrame(dir + "register-response", Control(1, BuildRegisterResponse(7, 5, 30, R"({"a":1})"))) &&
              WriteFrame(dir + "keepalive-response", Control(11, BuildKeepaliveResponse(7, ""))) &&
              WriteFrame(dir + "data-request", DataFrame(1000, 5)) &&
              WriteFrame(dir + "sync-response", DataFrame(1001, 0x80000005)) &&
              WriteFile(dir + "params-body", params.data(), params.size());
    return ok ? 0 : 1;
}
