// The settings file "Upgrade.ini": where it lives, and what is read and written.
#pragma once

#include <string>

namespace stb {

// The directory of the running executable, ending in '/', or empty.
std::string GetProgramDirectory();
// The temporary folder: $TMPDIR, else /tmp, without a trailing '/'.
std::string GetTempDirectory();

// Upgrade.ini beside the executable; where that directory is not writable and holds
// no Upgrade.ini, $XDG_CONFIG_HOME/stb-upgrade/Upgrade.ini (default ~/.config).
// A path set with SetSettingsFilePath (--ini, tests) wins.
std::string SettingsFilePath();
void SetSettingsFilePath(const std::string& path);  // empty restores the rule

// Reads Port, Baud, Parity, WarningLevel, TransferFormat2 and ChunkMask. Returns 1.
int LoadSettings();
// Writes Port, Baud and Parity into section "Config". Returns 1; a failed write is
// ignored (the old file stays whole).
int SaveSettings();

// A text of the settings file, for sections beyond "Config" (the port mapping).
std::string ReadSettingsText(const char* section, const char* key, const char* fallback);

}  // namespace stb
