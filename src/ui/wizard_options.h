// The wizard's command line: --device PATH, --simulate[=VERSION], --ini FILE.
#pragma once

#include <string>
#include <vector>

namespace stb {

struct WizardOptions {
  std::string device;  // wins over the port mapping
  std::string ini;     // settings file to use instead of Upgrade.ini
  bool simulate = false;
  std::string simulateVersion;  // empty = the emulated box's default
  bool help = false;
  std::string error;  // set when the line cannot be used
};

// Reads the arguments after the program name. Unknown arguments are an error, so a
// mistyped option never starts the wizard on the wrong port.
WizardOptions ParseWizardOptions(const std::vector<std::string>& args);
const char* WizardUsage();

}  // namespace stb
