#include "cli/cli_options.h"

namespace stb::cli {

void AddInspectCommand(CLI::App& app, GlobalOptions& /*options*/, int& exitCode) {
  auto* cmd = app.add_subcommand("inspect", "check a firmware image and list its chunks");
  cmd->callback([&exitCode] { exitCode = kExitUsage; });
}

}  // namespace stb::cli
