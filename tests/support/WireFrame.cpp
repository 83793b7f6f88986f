#include "support/WireFrame.h"

namespace pellax_test {

namespace {
constexpr size_t kExtFixed = 8;

uint32_t ExtTotal(const WireFrame& frame)
{
    uint32_t total = 0;
    for (const WireExt& ext : frame.exts) {
        total += static_cast<uint32_t>(kExtFixed + ext.data.size());
    }
    return total;
}
}  // namespace

void PutBigEndian(std::vector<uint8_t>& out, uint64_t value, int bytes)
{
    for (int shift = 8 * (bytes - 1); shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

uint64_t GetBigEndian(const uint8_t* in, int bytes)
{
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value = value << 8 | in[i];
    }
    return value;
}

std::vector<uint8_t> BigEndianLength(uint32_t length)
{
    std::vector<uint8_t> bytes;
    PutBigEndian(bytes, length, 4);
    return bytes;
}

std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed)
{
    std::vector<uint8_t> bytes(size);
    uint32_t state = seed * 2654435761u + 1;
    for (auto& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<uint8_t>(state >> 16);
    }
    return bytes;
}

std::vector<uint8_t> EncodeFrame(const WireFrame& frame)
{
    std::vector<uint8_t> out{1, 0, 0, frame.flag};
    PutBigEndian(out, frame.sequence, 4);
    PutBigEndian(out, frame.timestamp, 8);
    PutBigEndian(out, frame.command, 4);
    PutBigEndian(out, frame.bodyLengthField.value_or(static_cast<uint32_t>(frame.body.size())), 4);
    PutBigEndian(out, frame.extLengthField.value_or(static_cast<uint16_t>(ExtTotal(frame))), 2);
    out.resize(kWireHeaderSize, 0);
    for (const WireExt& ext : frame.exts) {
        PutBigEndian(out, ext.type, 4);
        PutBigEndian(out, ext.data.size(), 4);
        out.insert(out.end(), ext.data.begin(), ext.data.end());
    }
    out.insert(out.end(), frame.body.begin(), frame.body.end());
    return out;
}

std::vector<uint8_t> EncodeMessage(const std::vector<uint8_t>& frameBytes)
{
    std::vector<uint8_t> out = BigEndianLength(static_cast<uint32_t>(frameBytes.size()));
    out.insert(out.end(), frameBytes.begin(), frameBytes.end());
    return out;
}

std::vector<uint8_t> EncodeMessage(const WireFrame& frame)
{
    return EncodeMessage(EncodeFrame(frame));
}

bool DecodeFrame(const uint8_t* data, size_t length, WireFrame* frame)
{
    if (length < kWireHeaderSize) {
        return false;
    }
    WireFrame parsed;
    parsed.flag = data[3];
    parsed.sequence = static_cast<uint32_t>(GetBigEndian(data + 4, 4));
    parsed.timestamp = GetBigEndian(data + 8, 8);
    parsed.command = static_cast<uint32_t>(GetBigEndian(data + 16, 4));
    uint64_t bodyLength = GetBigEndian(data + 20, 4);
    size_t extLeft = static_cast<size_t>(GetBigEndian(data + 24, 2));
    size_t pos = kWireHeaderSize;
    if (length - pos < extLeft) {
        return false;
    }
    while (extLeft > 0) {
        if (extLeft < kExtFixed) {
            return false;
        }
        uint64_t extLength = GetBigEndian(data + pos + 4, 4);
        if (extLeft - kExtFixed < extLength) {
            return false;
        }
        const uint8_t* extData = data + pos + kExtFixed;
        parsed.exts.push_back({static_cast<uint32_t>(GetBigEndian(data + pos, 4)), {extData, extData + extLength}});
        pos += kExtFixed + extLength;
        extLeft -= kExtFixed + extLength;
    }
    if (length - pos != bodyLength) {
        return false;
    }
    parsed.body.assign(data + pos, data + length);
    *frame = std::move(parsed);
    return true;
}

bool DecodeFrame(const std::vector<uint8_t>& bytes, WireFrame* frame)
{
    return DecodeFrame(bytes.data(), bytes.size(), frame);
}

WireFrame MakeFrame(uint32_t command, uint32_t sequence, const std::string& body)
{
    WireFrame frame;
    frame.command = command;
    frame.sequence = sequence;
    frame.SetBody(body);
    return frame;
}

WireFrame MakeRegister(uint32_t sequence, const std::string& paramsJson)
{
    return MakeFrame(0, sequence, "{\"method\":\"Register\",\"params\":" + paramsJson + "}");
}

WireFrame MakeKeepalive(uint32_t sequence, const std::string& paramsJson)
{
    return MakeFrame(10, sequence, "{\"method\":\"Keepalive\",\"params\":" + paramsJson + "}");
}

}  // namespace pellax_test
