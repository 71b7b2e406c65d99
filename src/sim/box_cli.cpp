#include "sim/box_cli.h"

#include <algorithm>
#include <cstdlib>

namespace stb::sim {

namespace {

bool Number(const std::string& option, const std::string& text, uint64_t max, uint64_t& out,
            std::string& error) {
  if (!ParseNumber(text, out) || out > max) {
    error = option + ": '" + text + "' is not a number from 0 to " + std::to_string(max);
    return false;
  }
  return true;
}

}  // namespace

CliOutcome ParseBoxArguments(const std::vector<std::string>& args, BoxOptions& options,
                             std::string& error) {
  for (size_t i = 0; i < args.size(); ++i) {
    std::string option = args[i];
    std::string value;
    bool inlineValue = false;
    if (const size_t eq = option.find('='); option.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = option.substr(eq + 1);
      option = option.substr(0, eq);
      inlineValue = true;
    }
    auto take = [&]() {
      if (inlineValue) return true;
      if (i + 1 >= args.size()) {
        error = option + " needs a value";
        return false;
      }
      value = args[++i];
      return true;
    };
    uint64_t n = 0;
    if (option == "-h" || option == "--help") return CliOutcome::Help;
    if (option == "--log") {
      options.log = true;
    } else if (option == "--protocol") {
      if (!take() || !Number(option, value, 0xFFFF, n, error)) return CliOutcome::Error;
      options.protocol = static_cast<uint32_t>(n);
    } else if (option == "--report-version") {
      if (!take() || !Number(option, value, 0xFFFFFFFF, n, error)) return CliOutcome::Error;
      options.reportVersion = static_cast<int64_t>(n);
    } else if (option == "--flash") {
      if (!take()) return CliOutcome::Error;
      options.flashFile = value;
    } else if (option == "--flash-type") {
      if (!take() || !Number(option, value, 255, n, error)) return CliOutcome::Error;
      options.flashType = static_cast<int>(n);
    } else if (option == "--save-flash") {
      if (!take()) return CliOutcome::Error;
      options.saveFlashFile = value;
    } else if (option == "--link") {
      if (!take()) return CliOutcome::Error;
      options.linkPath = value;
    } else if (option == "--dump-packet") {
      if (!take() || !Number(option, value, 2040, n, error)) return CliOutcome::Error;
      options.dumpPacket = static_cast<uint32_t>(n);
    } else if (option == "--baud") {
      if (!take() || !Number(option, value, 10'000'000, n, error)) return CliOutcome::Error;
      options.baud = static_cast<uint32_t>(n);
    } else if (option == "--seed") {
      if (!take() || !Number(option, value, 0xFFFFFFFF, n, error)) return CliOutcome::Error;
      options.seed = static_cast<uint32_t>(n);
    } else if (option == "--fault") {
      if (!take() || !ParseFault(value, options.faults, error)) return CliOutcome::Error;
    } else {
      error = "unknown argument '" + args[i] + "' (see --help)";
      return CliOutcome::Error;
    }
  }
  if (options.protocol == 0) {
    error = "--protocol: 0 is no protocol";
    return CliOutcome::Error;
  }
  if (options.dumpPacket == 0) {
    error = "--dump-packet: at least 1 byte";
    return CliOutcome::Error;
  }
  return CliOutcome::Run;
}

std::string BoxHelpText() {
  std::string text =
      "stb-box-sim: an emulated set-top box boot loader on a pseudo-terminal.\n"
      "\n"
      "Prints the slave device path as its first line on stdout, then serves until\n"
      "SIGINT or SIGTERM. Point stb-upgrade or stb-upgrade-cli at that device (or at\n"
      "the --link path).\n"
      "\n"
      "Options:\n"
      "  --protocol V         loader generation and version (default 0x30). 48 (0x30) and\n"
      "                       above: packet box (protocol 3.0); 33..47: legacy box with\n"
      "                       block dumps and header CRCs; 32: legacy box with block\n"
      "                       dumps; below 32 (e.g. 16): legacy box with the stream dump.\n"
      "  --report-version V   version the box reports when it differs from the protocol\n"
      "                       (e.g. 0 for a packet box that reports none). A legacy box\n"
      "                       sends its version marker only for versions 33 and above.\n"
      "  --flash FILE         flash contents (an image: a chain of chunks, up to 2 MiB),\n"
      "                       padded with 0xFF to 512 KiB, 1 MiB or 2 MiB. Default: a\n"
      "                       built-in 1 MiB flash (boot loader, three logos, default\n"
      "                       database, application, user database).\n"
      "  --flash-type CODE    flash type byte of the chunk table (default from the size:\n"
      "                       1, 3 or 5); a code that names a size fixes the flash size.\n"
      "  --save-flash FILE    write the whole flash to FILE after every burn.\n"
      "  --link PATH          make PATH a symbolic link to the slave device.\n"
      "  --dump-packet N      data bytes per dump packet, 1 to 2040 (default 2040);\n"
      "                       erased runs travel as blank packets.\n"
      "  --baud N             pace the box at N baud: 10 bits per byte, both directions.\n"
      "  --fault NAME[=VALUE] commit a fault (repeatable), see below.\n"
      "  --seed N             seed of the random faults (default 1).\n"
      "  --log                print every exchange and decision on stderr.\n"
      "  -h, --help           this text.\n"
      "\n"
      "Faults (all off by default; packets are counted from 1 over the box's life):\n";
  constexpr size_t kIndent = 26, kWidth = 80;
  for (const auto& [name, meaning] : FaultDescriptions()) {
    std::string line = "  " + name;
    line += std::string(line.size() < kIndent ? kIndent - line.size() : 1, ' ');
    // Wrap the meaning at word boundaries under its own column.
    size_t pos = 0;
    while (pos < meaning.size()) {
      size_t end = std::min(meaning.size(), pos + (kWidth - kIndent));
      if (end < meaning.size()) {
        const size_t blank = meaning.rfind(' ', end);
        if (blank != std::string::npos && blank > pos) end = blank;
      }
      text += line + meaning.substr(pos, end - pos) + "\n";
      line = std::string(kIndent, ' ');
      pos = end;
      while (pos < meaning.size() && meaning[pos] == ' ') ++pos;
    }
  }
  text +=
      "  noise, the CRC and drop faults and the dump faults apply to packet boxes;\n"
      "  the others to both generations.\n"
      "\n"
      "Upgrade model: \"address A\" sets a write position in a staging copy of the flash;\n"
      "downloads (unpacked) go there and advance it; \"move id n\" keeps the bytes and\n"
      "advances by n; \"burn\" commits the copy to the flash; \"reboot\" ends the session.\n";
  return text;
}

}  // namespace stb::sim
