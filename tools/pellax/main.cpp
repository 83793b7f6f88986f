// pellax: run a demo, a server, a client, the payload cipher and benchmarks from the command line.
#include <CLI/CLI.hpp>

#include "Commands.h"
#include "LibraryScope.h"
#include "PlainSocket.h"

int main(int argc, char** argv)
{
    pellax_tool::PrepareProcess();
    CLI::App app{"pellax - message exchange between one server and its clients"};
    app.require_subcommand(1);
    app.fallthrough();
    app.set_version_flag("--version", std::string("pellax ") + PELLAX_VERSION);
    app.add_option("--log-level", pellax_tool::LogLevelOption(),
                   "Show the library's log lines of this level and above on stderr (3, 4 or 5; 0 none)")
        ->check(CLI::Range(0, 5));

    int exitCode = 0;
    pellax_tool::AddDemoCommand(app, exitCode);
    pellax_tool::AddServeCommand(app, exitCode);
    pellax_tool::AddClientCommands(app, exitCode);
    pellax_tool::AddCipherCommands(app, exitCode);
    pellax_tool::AddBenchCommand(app, exitCode);

    CLI11_PARSE(app, argc, argv);
    return exitCode;
}
