// pellax demo: one server, two library clients and one silent raw client in one process, with a
// transcript of everything they tell each other. Exits 0 only when every step behaved as expected.
#include <CLI/CLI.hpp>

#include "Commands.h"
#include "Demo.h"
#include "LibraryScope.h"

namespace pellax_tool {

void AddDemoCommand(CLI::App& app, int& exitCode)
{
    auto* demo = app.add_subcommand("demo", "A server and three clients in one process, with a transcript");
    demo->footer("Example: pellax demo   (about 10 seconds; exits 0 when every step behaved as expected)");
    demo->callback([&exitCode] {
        LibraryScope library(LogLevelOption());
        Demo scenario;
        exitCode = scenario.Run() ? 0 : 1;
    });
}

}  // namespace pellax_tool
