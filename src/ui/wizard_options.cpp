#include "ui/wizard_options.h"

namespace stb {

namespace {
// "--name VALUE" or "--name=VALUE"; true when args[i] is the option.
bool TakeValue(const std::vector<std::string>& args, size_t& i, const std::string& name,
               std::string& value, std::string& error) {
  const std::string& arg = args[i];
  if (arg == name) {
    if (i + 1 >= args.size()) {
      error = name + " needs a value";
      return true;
    }
    value = args[++i];
    return true;
  }
  if (arg.rfind(name + "=", 0) == 0) {
    value = arg.substr(name.size() + 1);
    if (value.empty()) error = name + " needs a value";
    return true;
  }
  return false;
}
}  // namespace

WizardOptions ParseWizardOptions(const std::vector<std::string>& args) {
  WizardOptions options;
  for (size_t i = 0; i < args.size() && options.error.empty(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      options.help = true;
    } else if (arg == "--simulate") {
      options.simulate = true;
    } else if (arg.rfind("--simulate=", 0) == 0) {
      options.simulate = true;
      options.simulateVersion = arg.substr(11);
      if (options.simulateVersion.empty()) options.error = "--simulate= needs a version";
    } else if (TakeValue(args, i, "--device", options.device, options.error) ||
               TakeValue(args, i, "--ini", options.ini, options.error)) {
    } else {
      options.error = "unknown argument: " + arg;
    }
  }
  if (options.error.empty() && options.simulate && !options.device.empty()) {
    options.error = "--simulate and --device exclude each other";
  }
  return options;
}

const char* WizardUsage() {
  return "usage: stb-upgrade [--device PATH] [--simulate[=VERSION]] [--ini FILE]\n"
         "  --device PATH        serial device to use (wins over the port list)\n"
         "  --simulate[=VERSION] demo mode: an emulated box on a pseudo-terminal;\n"
         "                       VERSION is its protocol version, e.g. 3.0 or 2.0\n"
         "  --ini FILE           settings file to use instead of Upgrade.ini\n";
}

}  // namespace stb
