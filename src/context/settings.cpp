#include "context/settings.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "context/profile_file.h"
#include "context/upgrade_context.h"

namespace stb {

namespace {
constexpr const char* kSection = "Config";
constexpr const char* kFileName = "Upgrade.ini";

std::string& SettingsPathOverride() {
  static std::string path;
  return path;
}

std::optional<std::string>& ProgramDirectoryOverride() {
  static std::optional<std::string> dir;
  return dir;
}

std::mutex& ErrorMutex() {
  static std::mutex m;
  return m;
}
std::string& LastError() {
  static std::string text;
  return text;
}
void SetLastError(const std::string& text) {
  std::lock_guard<std::mutex> lock(ErrorMutex());
  LastError() = text;
}

std::string HomeDirectory() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  const struct passwd* pw = ::getpwuid(::getuid());
  if (pw != nullptr && pw->pw_dir != nullptr && pw->pw_dir[0] == '/') return pw->pw_dir;
  return "/tmp";
}

std::string ConfigHomeFile() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  // The XDG rule: a relative value is invalid and is ignored.
  std::string base =
      (xdg != nullptr && xdg[0] == '/') ? std::string(xdg) : HomeDirectory() + "/.config";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return base + "/stb-upgrade/" + kFileName;
}

void EnsureParentDirectory(const std::string& file) {
  // mkdir -p for the config folder (private, as XDG asks); failures show up when the
  // file is written.
  for (size_t pos = 1; (pos = file.find('/', pos)) != std::string::npos; ++pos) {
    ::mkdir(file.substr(0, pos).c_str(), 0700);
  }
}
}  // namespace

std::string GetProgramDirectory() {
  if (const std::optional<std::string>& dir = ProgramDirectoryOverride()) return *dir;
  char path[4096];
  const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  std::string full(path, static_cast<size_t>(n));
  const size_t slash = full.rfind('/');
  if (slash == std::string::npos) return {};
  return full.substr(0, slash + 1);
}

void OverrideProgramDirectory(std::optional<std::string> dir) {
  ProgramDirectoryOverride() = std::move(dir);
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
  const std::string besideExe = dir + kFileName;
  if (dir.empty()) return besideExe;
  // An Upgrade.ini that is there is used even when it cannot be written; a missing one
  // is created beside the executable only where that directory is writable.
  if (::access(besideExe.c_str(), F_OK) == 0 || ::access(dir.c_str(), W_OK) == 0) {
    return besideExe;
  }
  return ConfigHomeFile();
}

void SetSettingsFilePath(const std::string& path) {
  SettingsPathOverride() = path;
}

int LoadSettings() {
  CUpgradeContext* context = GetContext();
  SerialSettings& serial = GetSerialSettings();
  CProfileFile file;
  file.Load(SettingsFilePath());
  SetLastError(file.Error());
  // The default of each read is the value the setting holds now.
  serial.Port = file.GetInt(kSection, "Port", serial.Port);
  serial.Baud = file.GetInt(kSection, "Baud", serial.Baud);
  serial.Parity = file.GetInt(kSection, "Parity", serial.Parity);
  if (context == nullptr) return 1;
  context->WarningLevel = static_cast<uint32_t>(
      file.GetInt(kSection, "WarningLevel", static_cast<int>(context->WarningLevel)));
  context->TransferFormat2 = file.GetInt(kSection, "TransferFormat2", context->TransferFormat2);
  std::string mask = file.Get(kSection, "ChunkMask").value_or("");
  if (mask.size() > 255) mask.resize(255);  // the value is read into 255 characters
  ParseChunkMask(mask.c_str());
  return 1;
}

int SaveSettings() {
  const SerialSettings& serial = GetSerialSettings();
  const std::string path = SettingsFilePath();
  if (SettingsPathOverride().empty() && path == ConfigHomeFile()) EnsureParentDirectory(path);
  CProfileFile file;
  file.Load(path);
  file.Set(kSection, "Port", std::to_string(serial.Port));
  file.Set(kSection, "Baud", std::to_string(serial.Baud));
  file.Set(kSection, "Parity", std::to_string(serial.Parity));
  file.Save();
  SetLastError(file.Error());
  return 1;
}

std::string LastSettingsError() {
  std::lock_guard<std::mutex> lock(ErrorMutex());
  return LastError();
}

std::string ReadSettingsText(const char* section, const char* key, const char* fallback) {
  return ReadProfileString(SettingsFilePath(), section, key).value_or(fallback);
}

std::vector<std::pair<std::string, std::string>> ReadSettingsSection(const char* section) {
  CProfileFile file;
  file.Load(SettingsFilePath());
  return file.Entries(section);
}

}  // namespace stb
