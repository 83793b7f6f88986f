// Frames in the wire format, written and read by hand without the library: the tool's raw client,
// the benchmarks' plain-socket peers and the tests' raw peers see exactly what travels.
//
//   0 version  1,2 reserved  3 flag  4 sequence  8 timestamp  16 command  20 body length
//   24 extension length  26..31 reserved  32 span id(33)  84 trace id(33)  156 extension entries
//   each entry: u32 type, u32 length, data; then the body
// On the socket every frame follows its 4-byte big-endian length.
#ifndef PELLAX_TOOL_WIRE_FRAME_H
#define PELLAX_TOOL_WIRE_FRAME_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace pellax_tool {

constexpr size_t kWireHeaderSize = 156;
constexpr size_t kWireLengthPrefix = 4;
constexpr size_t kWireCommandOffset = 16;

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
    // Lengths to write instead of the true ones, for frames that lie about themselves.
    std::optional<uint32_t> bodyLengthField;
    std::optional<uint16_t> extLengthField;

    std::string BodyText() const { return std::string(body.begin(), body.end()); }
};

// Big-endian integers of the given width in bytes.
void StoreBigEndian(uint8_t* at, uint64_t value, int bytes);
uint64_t LoadBigEndian(const uint8_t* at, int bytes);

// The frame alone: header, extension entries, body.
std::vector<uint8_t> EncodeFrame(const WireFrame& frame);
// Any bytes behind their length, as they go on the socket.
std::vector<uint8_t> EncodeMessage(const std::vector<uint8_t>& frameBytes);
std::vector<uint8_t> EncodeMessage(const WireFrame& frame);
// Parses one frame (no length prefix); false unless the bytes hold exactly what the header announces.
bool DecodeFrame(const uint8_t* data, size_t length, WireFrame* frame);
bool DecodeFrame(const std::vector<uint8_t>& bytes, WireFrame* frame);

// A frame with just these fields set.
WireFrame MakeFrame(uint32_t command, uint32_t sequence, const std::string& body);
// Control requests as a client sends them: {"method":...,"params":...}.
WireFrame MakeRegister(uint32_t sequence, const std::string& paramsJson);
WireFrame MakeKeepalive(uint32_t sequence, const std::string& paramsJson);

}  // namespace pellax_tool

#endif
