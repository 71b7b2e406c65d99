// stb-upgrade-cli list-ports: the serial devices present, the COM number each is
// mapped to, and how to map one.
#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/json_text.h"
#include "context/profile_file.h"
#include "context/settings.h"

namespace stb::cli {

namespace {

struct Device {
  std::string path;       // as listed: /dev/ttyUSB0 or /dev/serial/by-id/...
  std::string target;     // for a by-id link: the device it points to; else empty
  std::string canonical;  // the resolved path, to compare mappings with
  std::set<int> com;      // COM numbers that open this device
  std::string note;
};

struct Mapping {
  int com = 0;
  std::string value;      // as written in [Ports]
  std::string canonical;  // resolved, empty when the device is not there
};

std::string Resolve(const std::string& path) {
  char buffer[PATH_MAX];
  if (::realpath(path.c_str(), buffer) == nullptr) return {};
  return buffer;
}

// "COM12" -> 12, anything else -> 0.
int ComNumber(const std::string& key) {
  if (key.size() < 4 || std::toupper(static_cast<unsigned char>(key[0])) != 'C' ||
      std::toupper(static_cast<unsigned char>(key[1])) != 'O' ||
      std::toupper(static_cast<unsigned char>(key[2])) != 'M')
    return 0;
  long n = 0;
  for (size_t i = 3; i < key.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(key[i])) || n > 100000) return 0;
    n = n * 10 + (key[i] - '0');
  }
  return static_cast<int>(n);
}

// The names in dir (without . and ..), sorted; empty when dir cannot be read.
std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> out;
  DIR* d = ::opendir(dir.c_str());
  if (d == nullptr) return out;
  while (const struct dirent* e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") out.push_back(name);
  }
  ::closedir(d);
  std::sort(out.begin(), out.end());
  return out;
}

// prefix followed by digits only: the digits' value, else -1.
long Suffix(const std::string& name, const std::string& prefix) {
  if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return -1;
  long n = 0;
  for (size_t i = prefix.size(); i < name.size(); ++i) {
    if (!std::isdigit(static_cast<unsigned char>(name[i])) || n > 1000000) return -1;
    n = n * 10 + (name[i] - '0');
  }
  return n;
}

std::string ReadFirstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  if (in) std::getline(in, line);
  return line;
}

std::string JoinCom(const std::set<int>& com) {
  std::string out;
  for (int n : com) out += (out.empty() ? "COM" : ", COM") + std::to_string(n);
  return out.empty() ? "-" : out;
}

int ListPorts(const GlobalOptions& options, const std::string& devRoot,
              const std::string& sysRoot) {
  if (!options.ini.empty()) SetSettingsFilePath(options.ini);
  const std::string iniPath = SettingsFilePath();
  CProfileFile ini;
  ini.Load(iniPath);
  if (!ini.Error().empty()) {
    std::fprintf(stderr, "stb-upgrade-cli: settings file not used: %s\n", ini.Error().c_str());
  }

  std::vector<Mapping> mappings;
  std::set<int> mappedComs;
  for (const auto& [key, value] : ini.Entries("Ports")) {
    const int n = ComNumber(key);
    if (n <= 0 || value.empty()) continue;
    mappings.push_back(Mapping{n, value, Resolve(value)});
    mappedComs.insert(n);
  }

  // The devices: /dev/ttyS*, ttyUSB*, ttyACM* in number order, then the by-id links.
  std::vector<Device> devices;
  const std::vector<std::string> names = Names(devRoot);
  for (const char* prefix : {"ttyS", "ttyUSB", "ttyACM"}) {
    std::vector<std::pair<long, std::string>> found;
    for (const std::string& name : names) {
      const long n = Suffix(name, prefix);
      if (n >= 0) found.emplace_back(n, name);
    }
    std::sort(found.begin(), found.end());
    for (const auto& [n, name] : found) {
      Device d;
      d.path = devRoot + "/" + name;
      d.canonical = Resolve(d.path);
      if (d.canonical.empty()) d.canonical = d.path;
      // ttyS<k> is COM<k+1> unless [Ports] gives COM<k+1> to another device.
      if (std::string(prefix) == "ttyS" && n < 100000 &&
          !mappedComs.count(static_cast<int>(n) + 1)) {
        d.com.insert(static_cast<int>(n) + 1);
      }
      if (std::string(prefix) == "ttyS") {
        const std::string sys = sysRoot + "/class/tty/" + name + "/";
        if (ReadFirstLine(sys + "console") == "Y") {
          d.note = "system console";
        } else if (ReadFirstLine(sys + "type") == "0") {
          d.note = "no UART behind it";
        }
      }
      devices.push_back(d);
    }
  }
  const std::string byId = devRoot + "/serial/by-id";
  for (const std::string& name : Names(byId)) {
    Device d;
    d.path = byId + "/" + name;
    d.canonical = Resolve(d.path);
    d.target = d.canonical.empty() ? "(broken link)" : d.canonical;
    if (d.canonical.empty()) d.canonical = d.path;
    devices.push_back(d);
  }
  // A mapping opens the device it resolves to: the device and every link to it.
  for (Device& d : devices) {
    for (const Mapping& m : mappings) {
      if (m.canonical == d.canonical || m.value == d.path) d.com.insert(m.com);
    }
  }
  // By-id links also carry the ttyS numbering of their target.
  for (Device& link : devices) {
    if (link.target.empty()) continue;
    for (const Device& d : devices) {
      if (d.target.empty() && d.canonical == link.canonical)
        link.com.insert(d.com.begin(), d.com.end());
    }
  }

  if (options.json) {
    std::string out = "{\"settings\":" + JsonString(iniPath) + ",\"devices\":[";
    for (size_t i = 0; i < devices.size(); ++i) {
      const Device& d = devices[i];
      out += i == 0 ? "" : ",";
      out += "{\"path\":" + JsonString(d.path);
      if (!d.target.empty()) out += ",\"target\":" + JsonString(d.target);
      out += ",\"com\":[";
      bool first = true;
      for (int n : d.com) {
        out += (first ? "" : ",") + std::to_string(n);
        first = false;
      }
      out += "]";
      if (!d.note.empty()) out += ",\"note\":" + JsonString(d.note);
      out += "}";
    }
    out += "],\"mappings\":[";
    for (size_t i = 0; i < mappings.size(); ++i) {
      const Mapping& m = mappings[i];
      out += (i == 0 ? "{\"com\":" : ",{\"com\":") + std::to_string(m.com) +
             ",\"device\":" + JsonString(m.value) +
             ",\"present\":" + (m.canonical.empty() ? "false" : "true") + "}";
    }
    out += "]";
    if (!options.device.empty()) out += ",\"device_option\":" + JsonString(options.device);
    out += "}\n";
    std::fputs(out.c_str(), stdout);
    return kExitSuccess;
  }

  std::printf("Serial devices:\n");
  if (devices.empty())
    std::printf("  none found (no %s/ttyS*, ttyUSB*, ttyACM* or serial/by-id)\n", devRoot.c_str());
  for (const Device& d : devices) {
    std::string line = d.path;
    if (!d.target.empty()) line += " -> " + d.target;
    std::printf("  %-44s %s%s\n", line.c_str(), JoinCom(d.com).c_str(),
                d.note.empty() ? "" : ("  (" + d.note + ")").c_str());
  }
  bool anyMissing = false;
  for (const Mapping& m : mappings) anyMissing = anyMissing || m.canonical.empty();
  if (anyMissing) {
    std::printf("Mapped in [Ports] but not present:\n");
    for (const Mapping& m : mappings) {
      if (m.canonical.empty()) std::printf("  COM%-3d %s\n", m.com, m.value.c_str());
    }
  }
  std::printf("Settings file: %s%s\n", iniPath.c_str(),
              ini.GetStatus() == CProfileFile::Status::kMissing ? " (not there yet)" : "");
  std::printf(
      "COMn opens the device named by key COMn in section [Ports] of the settings file,\n"
      "else /dev/ttyS<n-1>. To map one, add for example\n"
      "  [Ports]\n"
      "  COM5=/dev/ttyUSB0\n"
      "to the settings file (a /dev/serial/by-id/ link stays right when adapters are\n"
      "re-plugged), or pass --device PATH, which wins over every COM number.\n");
  if (!options.device.empty()) {
    std::printf("--device %s is given: it is the port used.\n", options.device.c_str());
  }
  return kExitSuccess;
}

}  // namespace

void AddListPortsCommand(CLI::App& app, GlobalOptions& options, int& exitCode) {
  auto* cmd = app.add_subcommand("list-ports", "list the serial devices and their COM numbers");
  // The global options may also follow the subcommand's name.
  cmd->fallthrough();
  static std::string devRoot = "/dev";
  static std::string sysRoot = "/sys";
  // Hidden: a fake device tree for tests.
  cmd->add_option("--dev-root", devRoot)->group("");
  cmd->add_option("--sys-root", sysRoot)->group("");
  cmd->callback([&options, &exitCode] {
    std::string root = devRoot;
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    exitCode = ListPorts(options, root, sysRoot);
  });
}

}  // namespace stb::cli
