#include "support/WireFrame.h"

#include <cstring>

namespace pellax_test {

namespace {
constexpr size_t kIdField = 33;
constexpr size_t kSpanOffset = 32;
constexpr size_t kTraceOffset = 84;
constexpr size_t kExtFixed = 8;

void PutText(std::vector<uint8_t>& out, size_t offset, const std::string& text)
{
    size_t n = text.size() < kIdField - 1 ? text.size() : kIdField - 1;
    std::memcpy(out.data() + offset, text.data(), n);
}

std::string GetText(const uint8_t* in)
{
    size_t n = 0;
    while (n < kIdField && in[n] != 0) {
        ++n;
    }
    return std::string(reinterpret_cast<const char*>(in), n);
}

uint32_t ExtTotal(const WireFrame& frame)
{
    uint32_t total = 0;
    for (const WireExt& ext : frame.exts) {
        total += static_cast<uint32_t>(kExtFixed + ext.data.size());
    }
    return total;
}
}  // namespace

void PutU16(std::vector<uint8_t>& out, uint16_t value)
{
    out.push_back(static_cast<uint8_t>(value >> 8));
    out.push_back(static_cast<uint8_t>(value));
}

void PutU32(std::vector<uint8_t>& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

void PutU64(std::vector<uint8_t>& out, uint64_t value)
{
    for (int shift = 56; shift >= 0; shift -= 8) {
        out.push_back(static_cast<uint8_t>(value >> shift));
    }
}

uint16_t GetU16(const uint8_t* in)
{
    return static_cast<uint16_t>((in[0] << 8) | in[1]);
}

uint32_t GetU32(const uint8_t* in)
{
    return (static_cast<uint32_t>(in[0]) << 24) | (static_cast<uint32_t>(in[1]) << 16) |
           (static_cast<uint32_t>(in[2]) << 8) | in[3];
}

uint64_t GetU64(const uint8_t* in)
{
    return (static_cast<uint64_t>(GetU32(in)) << 32) | GetU32(in + 4);
}

std::vector<uint8_t> BigEndianLength(uint32_t length)
{
    std::vector<uint8_t> bytes;
    PutU32(bytes, length);
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
    std::vector<uint8_t> out;
    out.push_back(frame.version);
    out.push_back(0);
    out.push_back(0);
    out.push_back(frame.flag);
    PutU32(out, frame.sequence);
    PutU64(out, frame.timestamp);
    PutU32(out, frame.command);
    PutU32(out, frame.bodyLengthField.value_or(static_cast<uint32_t>(frame.body.size())));
    PutU16(out, frame.extLengthField.value_or(static_cast<uint16_t>(ExtTotal(frame))));
    out.resize(kWireHeaderSize, 0);
    PutText(out, kSpanOffset, frame.spanId);
    PutText(out, kTraceOffset, frame.traceId);
    for (const WireExt& ext : frame.exts) {
        PutU32(out, ext.type);
        PutU32(out, static_cast<uint32_t>(ext.data.size()));
        out.insert(out.end(), ext.data.begin(), ext.data.end());
    }
    out.insert(out.end(), frame.body.begin(), frame.body.end());
    return out;
}

std::vector<uint8_t> EncodeMessage(const std::vector<uint8_t>& frameBytes)
{
    std::vector<uint8_t> out;
    PutU32(out, static_cast<uint32_t>(frameBytes.size()));
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
    parsed.version = data[0];
    parsed.flag = data[3];
    parsed.sequence = GetU32(data + 4);
    parsed.timestamp = GetU64(data + 8);
    parsed.command = GetU32(data + 16);
    uint32_t bodyLength = GetU32(data + 20);
    size_t extLeft = GetU16(data + 24);
    parsed.spanId = GetText(data + kSpanOffset);
    parsed.traceId = GetText(data + kTraceOffset);
    size_t pos = kWireHeaderSize;
    if (length - pos < extLeft) {
        return false;
    }
    while (extLeft > 0) {
        if (extLeft < kExtFixed) {
            return false;
        }
        WireExt ext;
        ext.type = GetU32(data + pos);
        uint32_t extLength = GetU32(data + pos + 4);
        if (extLeft - kExtFixed < extLength) {
            return false;
        }
        ext.data.assign(data + pos + kExtFixed, data + pos + kExtFixed + extLength);
        pos += kExtFixed + extLength;
        extLeft -= kExtFixed + extLength;
        parsed.exts.push_back(std::move(ext));
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
