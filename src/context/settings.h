// The settings file "Upgrade.ini": where it lives, and what is read and written.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace stb {

// The directory of the running executable (/proc/self/exe), ending in '/', or empty.
std::string GetProgramDirectory();
// Seam for tests: makes GetProgramDirectory return dir (an empty text stands for "the
// path cannot be obtained"); nullopt restores /proc/self/exe. Only while no worker runs.
void OverrideProgramDirectory(std::optional<std::string> dir);
// The temporary folder: $TMPDIR, else /tmp, without a trailing '/'.
std::string GetTempDirectory();

// Upgrade.ini beside the executable; where that directory is not writable and holds
// no Upgrade.ini, $XDG_CONFIG_HOME/stb-upgrade/Upgrade.ini (an unset or relative
// XDG_CONFIG_HOME means ~/.config). With no program directory, "Upgrade.ini" alone.
// A path set with SetSettingsFilePath (--ini, tests) wins.
std::string SettingsFilePath();
void SetSettingsFilePath(const std::string& path);  // empty restores the rule

// Reads Port, Baud, Parity, WarningLevel, TransferFormat2 and ChunkMask from section
// "Config" of the settings file, reading the file once. A missing or unreadable file
// gives the defaults (the values held before the call). Returns 1.
int LoadSettings();
// Writes Port, Baud and Parity into section "Config" in one atomic replace, keeping
// every other line. Returns 1; a failed write is ignored (the old file stays whole,
// and an unreadable file is never written over).
int SaveSettings();
// Why the last LoadSettings or SaveSettings could not use the file, in the operating
// system's words; empty when it could (a missing file is not a failure). For the
// front ends to show on stderr or in a log; LoadSettings and SaveSettings themselves report
// nothing.
std::string LastSettingsError();

// A text of the settings file, for sections beyond "Config" (the port mapping).
std::string ReadSettingsText(const char* section, const char* key, const char* fallback);
// All keys of a section with their values, in file order (list-ports).
std::vector<std::pair<std::string, std::string>> ReadSettingsSection(const char* section);

}  // namespace stb
