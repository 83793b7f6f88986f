// Holds the library started for one command, with log lines at or above a level on stderr.
#ifndef PELLAX_TOOL_LIBRARY_SCOPE_H
#define PELLAX_TOOL_LIBRARY_SCOPE_H

namespace pellax_tool {

class LibraryScope {
public:
    // Shows log lines of logLevel and above (3 progress, 4 rejected, 5 failure); 0 shows none.
    explicit LibraryScope(int logLevel);
    ~LibraryScope();
    LibraryScope(const LibraryScope&) = delete;
    LibraryScope& operator=(const LibraryScope&) = delete;
};

// Shared by every command: --log-level N.
int& LogLevelOption();

}  // namespace pellax_tool

#endif
