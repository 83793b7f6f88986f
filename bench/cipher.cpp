// Payload cipher throughput through the client exports: plaintext bytes per second.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "pellax.h"

namespace {

const unsigned char kKey[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};

std::vector<unsigned char> Payload(size_t size)
{
    std::vector<unsigned char> data(size);
    for (size_t i = 0; i < size; ++i) {
        data[i] = static_cast<unsigned char>(i * 131 + 7);
    }
    return data;
}

std::string TextOf(const std::vector<unsigned char>& data)
{
    std::string text(data.size() * 2 + 64, '\0');
    int length = static_cast<int>(text.size());
    if (PELLAX_CLIENT_Encrypt(kKey, 16, data.data(), static_cast<int>(data.size()), &text[0], &length) != 0) {
        return std::string();
    }
    text.resize(static_cast<size_t>(length));
    return text;
}

void BM_Encrypt(benchmark::State& state)
{
    std::vector<unsigned char> data = Payload(static_cast<size_t>(state.range(0)));
    std::vector<char> out(data.size() * 2 + 64);
    for (auto _ : state) {
        int length = static_cast<int>(out.size());
        int result = PELLAX_CLIENT_Encrypt(kKey, 16, data.data(), static_cast<int>(data.size()), out.data(), &length);
        if (result != 0) {
            state.SkipWithError("encrypt failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_Decrypt(benchmark::State& state)
{
    std::vector<unsigned char> data = Payload(static_cast<size_t>(state.range(0)));
    std::string text = TextOf(data);
    std::vector<unsigned char> out(text.size());
    for (auto _ : state) {
        int length = static_cast<int>(out.size());
        int result = PELLAX_CLIENT_Decrypt(kKey, 16, text.data(), static_cast<int>(text.size()), out.data(), &length);
        if (result != 0 || length != state.range(0)) {
            state.SkipWithError("decrypt failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

BENCHMARK(BM_Encrypt)->Arg(64)->Arg(64 * 1024);
BENCHMARK(BM_Decrypt)->Arg(64)->Arg(64 * 1024);

}  // namespace

BENCHMARK_MAIN();
