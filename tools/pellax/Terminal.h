// Transcript output: timestamped lines, coloured when standard output is a terminal.
#ifndef PELLAX_TOOL_TERMINAL_H
#define PELLAX_TOOL_TERMINAL_H

#include <string>

#include "OrvPrintfFormat.h"

namespace pellax_tool {

enum class Tone { Plain, Server, Client, Good, Bad, Note };

class Terminal {
public:
    static bool IsInteractive();
    // "12:34:56.789  text", one line at a time even from several threads.
    static void Line(Tone tone, const std::string& text);
    // Rewrites the current line (progress); does nothing when not interactive.
    static void Progress(const std::string& text);
    static void EndProgress();
};

std::string Format(const char* format, ...) ORV_PRINTF_FORMAT(1, 2);

}  // namespace pellax_tool

#endif
