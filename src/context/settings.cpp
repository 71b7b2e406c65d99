#include "context/settings.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "context/profile_file.h"
#include "context/upgrade_context.h"

namespace stb {

namespace {
constexpr const char* kSection = "Config";

std::string& SettingsPathOverride() {
  static std::string path;
  return path;
}

std::string ConfigHomeFile() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  std::string base;
  if (xdg != nullptr && xdg[0] == '/') {
    base = xdg;
  } else {
    const char* home = std::getenv("HOME");
    base = std::string(home != nullptr ? home : "") + "/.config";
  }
  return base + "/stb-upgrade/Upgrade.ini";
}

void EnsureParentDirectory(const std::string& file) {
  // mkdir -p for the config folder; failures show up when the file is written.
  for (size_t pos = 1; (pos = file.find('/', pos)) != std::string::npos; ++pos) {
    ::mkdir(file.substr(0, pos).c_str(), 0755);
  }
}
}  // namespace

std::string GetProgramDirectory() {
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  std::string full(path, static_cast<size_t>(n));
  const size_t slash = full.rfind('/');
  if (slash == std::string::npos) return {};
  return full.substr(0, slash + 1);
}

std::string GetTempDirectory() {
  const char* tmp = std::getenv("TMPDIR");
  std::string dir = (tmp != nullptr && tmp[0] != '\0') ? tmp : "/tmp";
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  return dir;
}

std::string SettingsFilePath() {
  if (!SettingsPathOverride().empty()) return SettingsPathOverride();
  const std::string dir = GetProgramDirectory();
  const std::string besideExe = dir + "Upgrade.ini";
  if (dir.empty() || ::access(besideExe.c_str(), F_OK) == 0 || ::access(dir.c_str(), W_OK) == 0) {
    return besideExe;
  }
  return ConfigHomeFile();
}

void SetSettingsFilePath(const std::string& path) { SettingsPathOverride() = path; }

int LoadSettings() {
  CUpgradeContext* context = GetContext();
  SerialSettings& serial = GetSerialSettings();
  const std::string path = SettingsFilePath();
  serial.Port = ReadProfileInt(path, kSection, "Port", serial.Port);
  serial.Baud = ReadProfileInt(path, kSection, "Baud", serial.Baud);
  serial.Parity = ReadProfileInt(path, kSection, "Parity", serial.Parity);
  if (context == nullptr) return 1;
  context->WarningLevel = static_cast<uint32_t>(
      ReadProfileInt(path, kSection, "WarningLevel", static_cast<int>(context->WarningLevel)));
  context->TransferFormat2 =
      ReadProfileInt(path, kSection, "TransferFormat2", context->TransferFormat2);
  std::string mask = ReadProfileString(path, kSection, "ChunkMask").value_or("");
  if (mask.size() > 255) mask.resize(255);  // the value is read into 255 characters
  ParseChunkMask(mask.c_str());
  return 1;
}

int SaveSettings() {
  const SerialSettings& serial = GetSerialSettings();
  const std::string path = SettingsFilePath();
  if (path == ConfigHomeFile()) EnsureParentDirectory(path);
  WriteProfileString(path, kSection, "Port", std::to_string(serial.Port));
  WriteProfileString(path, kSection, "Baud", std::to_string(serial.Baud));
  WriteProfileString(path, kSection, "Parity", std::to_string(serial.Parity));
  return 1;
}

std::string ReadSettingsText(const char* section, const char* key, const char* fallback) {
  return ReadProfileString(SettingsFilePath(), section, key).value_or(fallback);
}

}  // namespace stb
