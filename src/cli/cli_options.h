// What the command line's global options and subcommands share.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace stb::cli {

// Exit codes of stb-upgrade-cli.
inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailed = 1;  // the connect or the operation failed
inline constexpr int kExitUsage = 2;   // bad usage or a refused file
inline constexpr int kExitCancelled = 130;

struct GlobalOptions {
  std::string device;  // --device PATH, wins over --port
  int port = 0;        // --port N, 0 = from the settings file
  int baud = 0;        // 0 = from the settings file
  std::string parity;  // none|odd|even|mark|space, empty = from the settings file
  std::string ini;     // --ini FILE
  bool json = false;
};

// Each subcommand registers itself on app; its callback stores its exit code in
// exitCode.
void AddListPortsCommand(CLI::App& app, GlobalOptions& options, int& exitCode);
void AddInspectCommand(CLI::App& app, GlobalOptions& options, int& exitCode);
void AddBoxCommands(CLI::App& app, GlobalOptions& options, int& exitCode);

}  // namespace stb::cli
