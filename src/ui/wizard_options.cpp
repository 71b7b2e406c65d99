#include "ui/wizard_options.h"

#include <cctype>

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
      uint32_t version = 0;
      if (!ParseSimulatedVersion(options.simulateVersion, version)) {
        options.error = "--simulate: not a protocol version: " + options.simulateVersion;
      }
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

bool ParseSimulatedVersion(const std::string& text, uint32_t& version) {
  auto digits = [](const std::string& part, int base, unsigned long limit, unsigned long& out) {
    if (part.empty() || part.size() > 8) return false;
    size_t used = 0;
    try {
      out = std::stoul(part, &used, base);
    } catch (...) {
      return false;
    }
    return used == part.size() && out <= limit &&
           std::isxdigit(static_cast<unsigned char>(part[0]));
  };
  const size_t dot = text.find('.');
  unsigned long value = 0;
  if (dot != std::string::npos) {
    unsigned long major = 0, minor = 0;
    if (!digits(text.substr(0, dot), 10, 15, major) ||
        !digits(text.substr(dot + 1), 10, 15, minor)) {
      return false;
    }
    value = major << 4 | minor;
  } else if (!digits(text, 0, 0xFF, value)) {
    return false;
  }
  if (value == 0) return false;
  version = static_cast<uint32_t>(value);
  return true;
}

const char* WizardUsage() {
  return "usage: stb-upgrade [--device PATH] [--simulate[=VERSION]] [--ini FILE]\n"
         "  --device PATH        serial device to use (wins over the port list)\n"
         "  --simulate[=VERSION] demo mode: an emulated box on a pseudo-terminal;\n"
         "                       VERSION is its protocol version (default 3.0);\n"
         "                       below 3.0 the box speaks the legacy commands\n"
         "  --ini FILE           settings file to use instead of Upgrade.ini\n";
}

}  // namespace stb
