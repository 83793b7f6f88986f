#include "WireFrame.h"

namespace pellax_tool {

namespace {
constexpr size_t kExtFixed = 8;

void PutBigEndian(std::vector<uint8_t>& out, uint64_t value, int bytes)
{
    out.resize(out.size() + static_cast<size_t>(bytes));
    StoreBigEndian(out.data() + out.size() - static_cast<size_t>(bytes), value, bytes);
}
}  // namespace

void StoreBigEndian(uint8_t* at, uint64_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i, value >>= 8) {
        at[i] = static_cast<uint8_t>(value);
    }
}

uint64_t LoadBigEndian(const uint8_t* at, int bytes)
{
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value = value << 8 | at[i];
    }
    return value;
}

std::vector<uint8_t> EncodeFrame(const WireFrame& frame)
{
    uint64_t extTotal = 0;
    for (const WireExt& ext : frame.exts) {
        extTotal += kExtFixed + ext.data.size();
    }
    std::vector<uint8_t> out{1, 0, 0, frame.flag};
    PutBigEndian(out, frame.sequence, 4);
    PutBigEndian(out, frame.timestamp, 8);
    PutBigEndian(out, frame.command, 4);
    PutBigEndian(out, frame.bodyLengthField.value_or(static_cast<uint32_t>(frame.body.size())), 4);
    PutBigEndian(out, frame.extLengthField.value_or(static_cast<uint16_t>(extTotal)), 2);
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
    std::vector<uint8_t> out;
    PutBigEndian(out, frameBytes.size(), static_cast<int>(kWireLengthPrefix));
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
    parsed.sequence = static_cast<uint32_t>(LoadBigEndian(data + 4, 4));
    parsed.timestamp = LoadBigEndian(data + 8, 8);
    parsed.command = static_cast<uint32_t>(LoadBigEndian(data + kWireCommandOffset, 4));
    uint64_t bodyLength = LoadBigEndian(data + 20, 4);
    size_t extLeft = static_cast<size_t>(LoadBigEndian(data + 24, 2));
    size_t pos = kWireHeaderSize;
    if (length - pos < extLeft) {
        return false;
    }
    while (extLeft > 0) {
        if (extLeft < kExtFixed) {
            return false;
        }
        uint64_t extLength = LoadBigEndian(data + pos + 4, 4);
        if (extLeft - kExtFixed < extLength) {
            return false;
        }
        const uint8_t* extData = data + pos + kExtFixed;
        parsed.exts.push_back({static_cast<uint32_t>(LoadBigEndian(data + pos, 4)), {extData, extData + extLength}});
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
    frame.body.assign(body.begin(), body.end());
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

}  // namespace pellax_tool
