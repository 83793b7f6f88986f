#include "Terminal.h"

#include "PlainSocket.h"


#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace pellax_tool {

namespace {
std::mutex g_outputMutex;

const char* ColourOf(Tone tone)
{
    switch (tone) {
    case Tone::Server: return "\033[36m";
    case Tone::Client: return "\033[35m";
    case Tone::Good: return "\033[32m";
    case Tone::Bad: return "\033[31m";
    case Tone::Note: return "\033[2m";
    default: return "";
    }
}

std::string Clock()
{
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local = LocalTime(seconds);
    char text[32];
    std::snprintf(text, sizeof(text), "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(millis));
    return text;
}
}

bool Terminal::IsInteractive()
{
    static const bool interactive = StdoutIsTerminal();
    return interactive;
}

void Terminal::Line(Tone tone, const std::string& text)
{
    std::lock_guard<std::mutex> lock(g_outputMutex);
    bool colour = IsInteractive() && tone != Tone::Plain;
    std::printf("%s  %s%s%s\n", Clock().c_str(), colour ? ColourOf(tone) : "", text.c_str(), colour ? "\033[0m" : "");
    std::fflush(stdout);
}

void Terminal::Progress(const std::string& text)
{
    if (!IsInteractive()) {
        return;
    }
    std::lock_guard<std::mutex> lock(g_outputMutex);
    std::printf("\r\033[2K%s", text.c_str());
    std::fflush(stdout);
}

void Terminal::EndProgress()
{
    if (!IsInteractive()) {
        return;
    }
    std::lock_guard<std::mutex> lock(g_outputMutex);
    std::printf("\r\033[2K");
    std::fflush(stdout);
}

std::string Format(const char* format, ...)
{
    char buffer[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buffer, sizeof(buffer), format, args);
    va_end(args);
    return buffer;
}

}  // namespace pellax_tool
