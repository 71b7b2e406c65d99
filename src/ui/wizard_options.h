// The wizard's command line: --device PATH, --simulate[=VERSION], --ini FILE.
#pragma once

#include <cstdint>
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
// The protocol version of --simulate=VERSION: "3.0" style (major.minor, each 0 to 15)
// or a number ("0x30", "48"). False for anything else and for 0.
bool ParseSimulatedVersion(const std::string& text, uint32_t& version);
const char* WizardUsage();

}  // namespace stb
