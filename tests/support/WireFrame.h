// Frames as raw bytes, written and read by hand so tests check what really travels, not what the
// library's own encoder thinks. Below the frame every message is a 4-byte big-endian length.
//
//   0 version  1,2 reserved  3 flag  4 sequence  8 timestamp  16 command  20 body length
//   24 extension length  26..31 reserved  32 span id(33)  84 trace id(33)  156 extension entries
//   each entry: u32 type, u32 length, data; then the body
#ifndef PELLAX_TEST_SUPPORT_WIRE_FRAME_H
#define PELLAX_TEST_SUPPORT_WIRE_FRAME_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pellax_test {

constexpr size_t kWireHeaderSize = 156;
constexpr size_t kWireLengthPrefix = 4;

struct WireExt {
    uint32_t type = 0;
    std::vector<uint8_t> data;
};

struct WireFrame {
    uint8_t flag = 0;
    uint32_t sequence = 0;
    uint64_t timestamp = 0;
    uint32_t command = 0;
    std::vector<WireExt> exts;
    std::vector<uint8_t> body;
    // Lie in the header fields to build malformed frames; unset means the true value.
    std::optional<uint32_t> bodyLengthField;
    std::optional<uint16_t> extLengthField;

    std::string BodyText() const { return std::string(body.begin(), body.end()); }
    void SetBody(const std::string& text) { body.assign(text.begin(), text.end()); }
};

// Big-endian integers of the given width in bytes.
void PutBigEndian(std::vector<uint8_t>& out, uint64_t value, int bytes);
uint64_t GetBigEndian(const uint8_t* in, int bytes);

std::vector<uint8_t> BigEndianLength(uint32_t length);
// Recognisable bytes: body i of a test holds (seed + index) patterns that a mix-up would break.
std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed);

// The frame alone: header, extension entries, body.
std::vector<uint8_t> EncodeFrame(const WireFrame& frame);
// The frame behind its 4-byte big-endian length, as it goes on the socket.
std::vector<uint8_t> EncodeMessage(const WireFrame& frame);
// Any bytes behind a length prefix (for frames too short to be frames).
std::vector<uint8_t> EncodeMessage(const std::vector<uint8_t>& frameBytes);

// Parses one frame (no length prefix). False when the bytes do not hold exactly what the header
// announces (too short, or extra bytes behind the body).
bool DecodeFrame(const uint8_t* data, size_t length, WireFrame* frame);
bool DecodeFrame(const std::vector<uint8_t>& bytes, WireFrame* frame);

// A frame with just these fields set; for control requests the body is the JSON text.
WireFrame MakeFrame(uint32_t command, uint32_t sequence, const std::string& body);
// Control requests as a client sends them: {"method":...,"params":{"pid":...}} by hand.
WireFrame MakeRegister(uint32_t sequence, const std::string& paramsJson);
WireFrame MakeKeepalive(uint32_t sequence, const std::string& paramsJson);

}  // namespace pellax_test

#endif
