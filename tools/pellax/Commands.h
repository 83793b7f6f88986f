// The subcommands of the pellax tool; each sets exitCode when it runs.
#ifndef PELLAX_TOOL_COMMANDS_H
#define PELLAX_TOOL_COMMANDS_H

namespace CLI {
class App;
}

namespace pellax_tool {

void AddCipherCommands(CLI::App& app, int& exitCode);
void AddServeCommand(CLI::App& app, int& exitCode);
void AddClientCommands(CLI::App& app, int& exitCode);
void AddBenchCommand(CLI::App& app, int& exitCode);
void AddDemoCommand(CLI::App& app, int& exitCode);

}  // namespace pellax_tool

#endif
