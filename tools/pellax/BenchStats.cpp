#include "BenchStats.h"

#include <algorithm>
#include <numeric>

#include "Terminal.h"

namespace pellax_tool {

namespace {
double Percentile(const std::vector<double>& sorted, double fraction)
{
    size_t index = static_cast<size_t>(fraction * static_cast<double>(sorted.size() - 1) + 0.5);
    return sorted[std::min(index, sorted.size() - 1)];
}
}

void SummariseLatency(std::vector<double>& samples, BenchFigures& figures)
{
    if (samples.empty()) {
        return;
    }
    std::sort(samples.begin(), samples.end());
    figures.hasLatency = true;
    figures.p50 = Percentile(samples, 0.50);
    figures.p99 = Percentile(samples, 0.99);
    figures.p999 = Percentile(samples, 0.999);
    figures.mean = std::accumulate(samples.begin(), samples.end(), 0.0) / static_cast<double>(samples.size());
}

void SetThroughput(uint64_t messages, uint64_t bytes, double seconds, BenchFigures& figures)
{
    if (seconds <= 0) {
        return;
    }
    figures.messagesPerSecond = static_cast<double>(messages) / seconds;
    figures.megabytesPerSecond = static_cast<double>(bytes) / seconds / 1e6;
    if (figures.hasLatency) {
        figures.callsPerSecond = figures.messagesPerSecond;
    }
}

std::string FiguresJson(const BenchFigures& figures)
{
    return Format("{\"p50_us\":%.2f,\"p99_us\":%.2f,\"p999_us\":%.2f,\"mean_us\":%.2f,\"calls_per_s\":%.1f,"
                  "\"msgs_per_s\":%.1f,\"mb_per_s\":%.3f,\"failures\":%llu}",
                  figures.p50, figures.p99, figures.p999, figures.mean, figures.callsPerSecond,
                  figures.messagesPerSecond, figures.megabytesPerSecond,
                  static_cast<unsigned long long>(figures.failures));
}

}  // namespace pellax_tool
