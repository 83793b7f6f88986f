// Framing cost against a loopback round trip: header encode + decode with 0 and 3 extension
// entries, and building + parsing a Register body.
#include <benchmark/benchmark.h>

#include <string>

#include "protocol/ControlMessage.h"
#include "protocol/PellaxMessageHeader.h"

using namespace ORV::PELLAX;

namespace {

void EncodeDecode(benchmark::State& state, CPellaxMessageHeader& header)
{
    MessageBlockPtr block = COrvMessageBlock::Create(header.GetHeaderSize());
    for (auto _ : state) {
        block->SetReadPos(0);
        block->SetWritePos(0);
        header.Encode(block.Get(), false);
        CPellaxMessageHeader decoded;
        benchmark::DoNotOptimize(decoded.Decode(block.Get()));
        benchmark::DoNotOptimize(decoded.GetSequence());
    }
}

void HeaderEncodeDecodePlain(benchmark::State& state)
{
    CPellaxMessageHeader header(1000, 0, 42, 0, 0, 0);
    EncodeDecode(state, header);
}
BENCHMARK(HeaderEncodeDecodePlain);

void HeaderEncodeDecodeThreeEntries(benchmark::State& state)
{
    CPellaxMessageHeader header(1000, 0, 42, 0, 0, 0);
    const uint8_t data[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    header.AddExtHeader(CPellaxExtMessageHeader(1, 4, data));
    header.AddExtHeader(CPellaxExtMessageHeader(2, 16, data));
    header.AddExtHeader(CPellaxExtMessageHeader(3, 0, nullptr));
    EncodeDecode(state, header);
}
BENCHMARK(HeaderEncodeDecodeThreeEntries);

void RegisterBodyBuildAndParse(benchmark::State& state)
{
    const std::string userData = R"({"device":"cam-01","zone":7})";
    std::string params;
    for (auto _ : state) {
        std::string body = BuildRegisterRequest(4242, userData);
        benchmark::DoNotOptimize(ReadParams(body.data(), body.size(), &params));
    }
}
BENCHMARK(RegisterBodyBuildAndParse);

}  // namespace

BENCHMARK_MAIN();
