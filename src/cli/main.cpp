// stb-upgrade-cli: connect, dump and upgrade a set-top box from a terminal or script.
#include <CLI/CLI.hpp>

#include "cli/cli_options.h"

int main(int argc, char** argv) {
  using namespace stb::cli;
  CLI::App app{
      "stb-upgrade-cli: service tool for the boot loader of satellite set-top boxes.\n"
      "Connects over a serial port, dumps the flash and upgrades the firmware."};
  app.require_subcommand(1);
  GlobalOptions options;
  app.add_option("--device", options.device, "serial device path (wins over --port)");
  app.add_option("--port", options.port, "COM number, mapped by section [Ports] of the settings");
  app.add_option("--baud", options.baud, "baud rate (default from the settings file)");
  app.add_option("--parity", options.parity, "none|odd|even|mark|space")
      ->check(CLI::IsMember({"none", "odd", "even", "mark", "space"}));
  app.add_option("--ini", options.ini, "settings file to read instead of Upgrade.ini");
  app.add_flag("--json", options.json, "machine-readable output on stdout");

  int exitCode = kExitSuccess;
  AddBoxCommands(app, options, exitCode);
  AddListPortsCommand(app, options, exitCode);
  AddInspectCommand(app, options, exitCode);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int rc = app.exit(e);
    return rc == 0 ? kExitSuccess : kExitUsage;
  }
  return exitCode;
}
