// Figures of one benchmark run: round-trip percentiles and throughput.
#ifndef PELLAX_TOOL_BENCH_STATS_H
#define PELLAX_TOOL_BENCH_STATS_H

#include <cstdint>
#include <string>
#include <vector>

namespace pellax_tool {

struct BenchFigures {
    bool hasLatency = false;
    double p50 = 0, p99 = 0, p999 = 0, mean = 0;  // microseconds
    double callsPerSecond = 0;
    double messagesPerSecond = 0;
    double megabytesPerSecond = 0;
    uint64_t failures = 0;
};

// Fills the latency fields from samples in microseconds (sorted in place).
void SummariseLatency(std::vector<double>& samples, BenchFigures& figures);
void SetThroughput(uint64_t messages, uint64_t bytes, double seconds, BenchFigures& figures);
std::string FiguresJson(const BenchFigures& figures);

}  // namespace pellax_tool

#endif
