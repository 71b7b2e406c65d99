#include "cli/cli_options.h"

namespace stb::cli {

void AddListPortsCommand(CLI::App& app, GlobalOptions& /*options*/, int& exitCode) {
  auto* cmd = app.add_subcommand("list-ports", "list the serial devices and their COM numbers");
  cmd->callback([&exitCode] { exitCode = kExitSuccess; });
}

}  // namespace stb::cli
