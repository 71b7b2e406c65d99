// The settings file: defaults, what a save writes,
// private-profile semantics, bad files, atomic replace and the location rule.
#include "context/settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "context/profile_file.h"
#include "context/upgrade_context.h"
#include "scratch.h"

namespace stb {
namespace {

using test::ReadFile;
using test::TempDir;
using test::WriteFile;

// Every test starts from a fresh context, default serial settings and its own file.
class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(dir_.Path().empty());
    DestroyContext();
    GetSerialSettings() = SerialSettings{};
    path_ = dir_ / "Upgrade.ini";
    SetSettingsFilePath(path_);
  }
  void TearDown() override {
    SetSettingsFilePath("");
    OverrideProgramDirectory(std::nullopt);
    DestroyContext();
    GetSerialSettings() = SerialSettings{};
  }
  void Load(const std::string& content) {
    ASSERT_TRUE(WriteFile(path_, content));
    LoadSettings();
  }

  TempDir dir_;
  std::string path_;
};

TEST_F(SettingsTest, NoFileGivesTheDefaults) {
  LoadSettings();
  const CUpgradeContext* c = GetContext();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(GetSerialSettings().Port, 1);
  EXPECT_EQ(GetSerialSettings().Baud, 115200);
  EXPECT_EQ(GetSerialSettings().Parity, 2);
  EXPECT_EQ(c->WarningLevel, 0u);
  EXPECT_EQ(c->TransferFormat2, 1);
  EXPECT_EQ(c->ChunkMaskCount, 0u);
  EXPECT_EQ(LastSettingsError(), "");  // a missing file is no failure
  EXPECT_EQ(::access(path_.c_str(), F_OK), -1) << "loading must not create the file";
}

TEST_F(SettingsTest, SaveWithoutFileWritesExactlyPortBaudParityInConfig) {
  LoadSettings();
  SaveSettings();
  EXPECT_EQ(ReadFile(path_), "[Config]\nPort=1\nBaud=115200\nParity=2\n");
  CProfileFile f;
  ASSERT_EQ(f.Load(path_), CProfileFile::Status::kOk);
  const auto entries = f.Entries("Config");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0], (std::pair<std::string, std::string>{"Port", "1"}));
  EXPECT_EQ(entries[1], (std::pair<std::string, std::string>{"Baud", "115200"}));
  EXPECT_EQ(entries[2], (std::pair<std::string, std::string>{"Parity", "2"}));
}

TEST_F(SettingsTest, SaveWritesTheCurrentValuesWithPercentD) {
  GetSerialSettings() = SerialSettings{7, 9600, 0, ""};
  SaveSettings();
  EXPECT_EQ(ReadFile(path_), "[Config]\nPort=7\nBaud=9600\nParity=0\n");
  GetSerialSettings().Port = -3;
  SaveSettings();
  EXPECT_EQ(ReadFile(path_), "[Config]\nPort=-3\nBaud=9600\nParity=0\n");
}

TEST_F(SettingsTest, ForeignKeysCommentsAndLineEndsSurviveByteForByte) {
  // CRLF and LF mixed, comments, blank lines, foreign keys and sections, trailing
  // blanks, odd spacing, a last line without a line end.
  const std::string before =
      "; written by hand\r\n"
      "[Ports]\r\n"
      "COM5=/dev/ttyUSB0\n"
      "\r\n"
      "[Config]\r\n"
      "WarningLevel = 2   \r\n"
      "  Port = 4\r\n"
      "ChunkMask=E3000010,02FD0200,\n"
      "# not a comment in INI, kept anyway\r\n"
      "Baud=57600\r\n"
      "\r\n"
      "[Other]\n"
      "Port=99\n"
      "Parity=1";
  Load(before);
  EXPECT_EQ(GetSerialSettings().Port, 4);
  EXPECT_EQ(GetSerialSettings().Baud, 57600);
  EXPECT_EQ(GetSerialSettings().Parity, 2);  // not in [Config]: the default
  GetSerialSettings().Port = 6;
  GetSerialSettings().Parity = 4;
  SaveSettings();
  const std::string after =
      "; written by hand\r\n"
      "[Ports]\r\n"
      "COM5=/dev/ttyUSB0\n"
      "\r\n"
      "[Config]\r\n"
      "WarningLevel = 2   \r\n"
      "  Port = 6\r\n"
      "ChunkMask=E3000010,02FD0200,\n"
      "# not a comment in INI, kept anyway\r\n"
      "Baud=57600\r\n"
      "Parity=4\r\n"
      "\r\n"
      "[Other]\n"
      "Port=99\n"
      "Parity=1";
  EXPECT_EQ(ReadFile(path_), after);
}

TEST_F(SettingsTest, SaveOfUnchangedValuesLeavesTheFileAlone) {
  const std::string before = "[Config]\r\nPort = 1\r\nBaud=115200\r\nParity=2\r\nX=y";
  Load(before);
  struct stat st1 {
  }, st2{};
  ASSERT_EQ(::stat(path_.c_str(), &st1), 0);
  SaveSettings();
  ASSERT_EQ(::stat(path_.c_str(), &st2), 0);
  EXPECT_EQ(ReadFile(path_), before);
  EXPECT_EQ(st1.st_ino, st2.st_ino) << "nothing changed: no replace";
}

TEST_F(SettingsTest, SectionMissingIsAddedAtTheEndWithTheFilesLineEnds) {
  Load("[Ports]\r\nCOM2=/dev/ttyACM0");
  SaveSettings();
  EXPECT_EQ(ReadFile(path_),
            "[Ports]\r\nCOM2=/dev/ttyACM0\r\n[Config]\r\nPort=1\r\nBaud=115200\r\nParity=2\r\n");
}

TEST_F(SettingsTest, KeysAndSectionsAreComparedWithoutCase) {
  Load("[cOnFiG]\nport=7\nBAUD=9600\nPaRiTy=0\nwarninglevel=3\nTRANSFERFORMAT2=0\n");
  EXPECT_EQ(GetSerialSettings().Port, 7);
  EXPECT_EQ(GetSerialSettings().Baud, 9600);
  EXPECT_EQ(GetSerialSettings().Parity, 0);
  EXPECT_EQ(GetContext()->WarningLevel, 3u);
  EXPECT_EQ(GetContext()->TransferFormat2, 0);
  GetSerialSettings().Port = 8;
  SaveSettings();
  // Replaced in place, spelling kept; no second key of another case.
  EXPECT_EQ(ReadFile(path_),
            "[cOnFiG]\nport=8\nBAUD=9600\nPaRiTy=0\nwarninglevel=3\nTRANSFERFORMAT2=0\n");
}

TEST_F(SettingsTest, TheFirstSectionAndTheFirstKeyWin) {
  Load("[Config]\nPort=3\nPort=4\n[Config]\nBaud=1200\n");
  EXPECT_EQ(GetSerialSettings().Port, 3);
  EXPECT_EQ(GetSerialSettings().Baud, 115200) << "a second [Config] is not merged in";
  GetSerialSettings().Port = 5;
  SaveSettings();
  EXPECT_EQ(ReadFile(path_),
            "[Config]\nPort=5\nPort=4\nBaud=115200\nParity=2\n[Config]\nBaud=1200\n");
}

TEST_F(SettingsTest, IntegersReadAsGetPrivateProfileIntDoes) {
  struct Case {
    const char* value;
    int expected;
  };
  const Case cases[] = {
      {"abc", 0}, {"57600", 57600}, {"  19200  ", 19200}, {"12abc", 12},        {"-3", -3},
      {"+9", 9},  {"0x10", 0},      {"", 115200},         {"\"38400\"", 38400}, {"99999999999", -1},
  };
  for (const Case& c : cases) {
    GetSerialSettings() = SerialSettings{};
    Load(std::string("[Config]\nBaud=") + c.value + "\n");
    EXPECT_EQ(GetSerialSettings().Baud, c.expected) << "Baud=" << c.value;
  }
}

TEST_F(SettingsTest, BaudAbcReadsZero) {
  Load("[Config]\nBaud=abc\n");
  EXPECT_EQ(GetSerialSettings().Baud, 0);
}

TEST_F(SettingsTest, AbsentWarningLevelKeepsZero) {
  Load("[Config]\nPort=2\nTransferFormat2=0\n");
  EXPECT_EQ(GetContext()->WarningLevel, 0u);
  EXPECT_EQ(GetContext()->TransferFormat2, 0);
  DestroyContext();
  Load("[Config]\nWarningLevel=2\n");
  EXPECT_EQ(GetContext()->WarningLevel, 2u);
}

TEST_F(SettingsTest, EachReadDefaultsToTheValueHeldBeforeIt) {
  GetSerialSettings().Port = 9;
  Load("[Config]\nBaud=4800\n");
  EXPECT_EQ(GetSerialSettings().Port, 9);
  EXPECT_EQ(GetSerialSettings().Baud, 4800);
}

TEST_F(SettingsTest, ChunkMaskIsReadFromTheFile) {
  Load("[Config]\nChunkMask=E3000010,02FD0200,\n");
  const CUpgradeContext* c = GetContext();
  ASSERT_EQ(c->ChunkMaskCount, 2u);
  EXPECT_EQ(c->ChunkMask[0], 0xE3000010u);
  EXPECT_EQ(c->ChunkMask[1], 0x02FD0200u);
}

TEST_F(SettingsTest, ChunkMaskValueIsCutAt255Characters) {
  // 253 characters up to the first comma, then "34," crosses 255: the second comma is
  // cut off, so only one item is left.
  const std::string mask = "0" + std::string(249, ' ') + "12," + "34,";
  ASSERT_EQ(mask.size(), 256u);
  Load("[Config]\nChunkMask=" + mask + "\n");
  ASSERT_EQ(GetContext()->ChunkMaskCount, 1u);
  EXPECT_EQ(GetContext()->ChunkMask[0], 0u);
}

TEST_F(SettingsTest, ByteOrderMarkOfAWindowsEditorIsUnderstoodAndKept) {
  Load("\xEF\xBB\xBF[Config]\r\nPort=3\r\n");
  EXPECT_EQ(GetSerialSettings().Port, 3);
  SaveSettings();
  EXPECT_EQ(ReadFile(path_), "\xEF\xBB\xBF[Config]\r\nPort=3\r\nBaud=115200\r\nParity=2\r\n");
}

TEST_F(SettingsTest, MalformedFileGivesDefaultsAndKeepsEveryLine) {
  const char kBinary[] = "\x00\x01\xff binary\n";
  std::string garbage(kBinary, sizeof kBinary - 1);
  garbage += "[Config\n=5\nno equals sign\n[]\n";
  garbage += std::string(100000, 'x') + "\n";
  garbage += "[Config]\n Port\n=\nBaud\n";
  Load(garbage);
  EXPECT_EQ(GetSerialSettings().Port, 1);
  EXPECT_EQ(GetSerialSettings().Baud, 115200);
  EXPECT_EQ(LastSettingsError(), "");
  SaveSettings();
  EXPECT_EQ(ReadFile(path_), garbage + "Port=1\nBaud=115200\nParity=2\n");
}

TEST_F(SettingsTest, UnreadableFileGivesDefaultsAndIsNeverWrittenOver) {
  // A directory where the file should be: not readable as a settings file, even for root.
  ASSERT_EQ(::mkdir(path_.c_str(), 0755), 0);
  ASSERT_TRUE(WriteFile(path_ + "/keep", "x"));
  LoadSettings();
  EXPECT_EQ(GetSerialSettings().Baud, 115200);
  EXPECT_NE(LastSettingsError(), "");
  GetSerialSettings().Baud = 9600;
  SaveSettings();
  EXPECT_NE(LastSettingsError().find("Upgrade.ini"), std::string::npos) << LastSettingsError();
  EXPECT_EQ(ReadFile(path_ + "/keep"), "x");
  EXPECT_EQ(TempDir::List(dir_.Path()), std::vector<std::string>{"Upgrade.ini"});
}

TEST_F(SettingsTest, FileWithoutReadPermissionIsLeftWhole) {
  // Root reads everything, so the check runs as an unprivileged user in a child.
  const std::string content = "[Config]\nPort=4\nSecret=1\n";
  ASSERT_TRUE(WriteFile(path_, content));
  ASSERT_EQ(::chmod(path_.c_str(), 0), 0);
  ASSERT_EQ(::chmod(dir_.Path().c_str(), 0777), 0);  // the directory would allow a replace
  const int rc = test::RunInChild(
      [] {
        LoadSettings();
        if (GetSerialSettings().Port != 1) return 1;
        if (LastSettingsError().find("Permission denied") == std::string::npos) return 2;
        GetSerialSettings().Port = 9;
        SaveSettings();
        if (LastSettingsError().empty()) return 3;
        return 0;
      },
      true);
  EXPECT_EQ(rc, 0);
  ASSERT_EQ(::chmod(path_.c_str(), 0644), 0);
  EXPECT_EQ(ReadFile(path_), content);
  EXPECT_EQ(TempDir::List(dir_.Path()), std::vector<std::string>{"Upgrade.ini"});
}

TEST_F(SettingsTest, FifoInPlaceOfTheFileDoesNotHangAndIsNotReplaced) {
  ASSERT_EQ(::mkfifo(path_.c_str(), 0644), 0);
  LoadSettings();
  EXPECT_EQ(GetSerialSettings().Port, 1);
  SaveSettings();
  struct stat st {};
  ASSERT_EQ(::lstat(path_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

TEST_F(SettingsTest, AtomicReplaceLeavesNoTemporaryFilesAndKeepsTheMode) {
  ASSERT_TRUE(WriteFile(path_, "[Config]\nPort=2\n"));
  ASSERT_EQ(::chmod(path_.c_str(), 0600), 0);
  struct stat before {};
  ASSERT_EQ(::stat(path_.c_str(), &before), 0);
  LoadSettings();
  GetSerialSettings().Port = 3;
  SaveSettings();
  struct stat after {};
  ASSERT_EQ(::stat(path_.c_str(), &after), 0);
  EXPECT_NE(before.st_ino, after.st_ino) << "replaced by rename, not rewritten in place";
  EXPECT_EQ(after.st_mode & 07777, 0600u);
  EXPECT_EQ(TempDir::List(dir_.Path()), std::vector<std::string>{"Upgrade.ini"});
  EXPECT_EQ(ReadFile(path_), "[Config]\nPort=3\nBaud=115200\nParity=2\n");
}

TEST_F(SettingsTest, FailedReplaceRemovesItsTemporaryFile) {
  CProfileFile f;
  ASSERT_EQ(f.Load(path_), CProfileFile::Status::kMissing);
  f.Set("Config", "Port", "1");
  ASSERT_EQ(::mkdir(path_.c_str(), 0755), 0);  // now the rename cannot succeed
  ASSERT_TRUE(WriteFile(path_ + "/x", ""));
  EXPECT_FALSE(f.Save());
  EXPECT_NE(f.Error(), "");
  EXPECT_EQ(TempDir::List(dir_.Path()), std::vector<std::string>{"Upgrade.ini"});
}

TEST_F(SettingsTest, SymlinkedFileIsWrittenThroughTheLink) {
  const std::string target = dir_ / "real.ini";
  ASSERT_TRUE(WriteFile(target, "[Config]\nPort=2\n"));
  ASSERT_EQ(::symlink("real.ini", path_.c_str()), 0);
  LoadSettings();
  EXPECT_EQ(GetSerialSettings().Port, 2);
  GetSerialSettings().Port = 5;
  SaveSettings();
  struct stat st {};
  ASSERT_EQ(::lstat(path_.c_str(), &st), 0);
  EXPECT_TRUE(S_ISLNK(st.st_mode));
  EXPECT_EQ(ReadFile(target), "[Config]\nPort=5\nBaud=115200\nParity=2\n");
}

TEST_F(SettingsTest, TooLargeFileIsNotUsedNorReplaced) {
  const std::string big = "[Config]\nPort=3\n" + std::string(5 * 1024 * 1024, ';');
  ASSERT_TRUE(WriteFile(path_, big));
  LoadSettings();
  EXPECT_EQ(GetSerialSettings().Port, 1);
  EXPECT_NE(LastSettingsError(), "");
  SaveSettings();
  EXPECT_EQ(ReadFile(path_).size(), big.size());
}

TEST_F(SettingsTest, PortsSectionMapsComNumbers) {
  Load("[ports]\ncom5 = /dev/ttyUSB0\nCOM5=/dev/other\nCOM7=\"/dev/serial/by-id/x y\"\n");
  EXPECT_EQ(ReadSettingsText("Ports", "COM5", ""), "/dev/ttyUSB0");
  EXPECT_EQ(ReadSettingsText("Ports", "COM7", ""), "/dev/serial/by-id/x y");
  EXPECT_EQ(ReadSettingsText("Ports", "COM6", "none"), "none");
  const auto entries = ReadSettingsSection("Ports");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].first, "com5");
}

// --- where the file lives ---------------------------------------------------------

class SettingsLocationTest : public SettingsTest {
 protected:
  void SetUp() override {
    SettingsTest::SetUp();
    SetSettingsFilePath("");  // the rule, not the override
    exeDir_ = dir_ / "bin";
    xdg_ = dir_ / "xdg";
    ASSERT_EQ(::mkdir(exeDir_.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(xdg_.c_str(), 0777), 0);
    ASSERT_EQ(::chmod(dir_.Path().c_str(), 0755), 0);
    ASSERT_EQ(::chmod(xdg_.c_str(), 0777), 0);
    OverrideProgramDirectory(exeDir_ + "/");
  }
  std::string exeDir_, xdg_;
};

TEST_F(SettingsLocationTest, ProgramDirectoryIsTheExecutablesEndingInSlash) {
  OverrideProgramDirectory(std::nullopt);
  const std::string dir = GetProgramDirectory();
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(dir.back(), '/');
  char exe[4096] = {};
  ASSERT_GT(::readlink("/proc/self/exe", exe, sizeof exe - 1), 0);
  EXPECT_EQ(dir + "test_context", std::string(exe));
}

TEST_F(SettingsLocationTest, BesideTheExecutableWhenItsDirectoryIsWritable) {
  EXPECT_EQ(SettingsFilePath(), exeDir_ + "/Upgrade.ini");
  SaveSettings();
  EXPECT_EQ(ReadFile(exeDir_ + "/Upgrade.ini"), "[Config]\nPort=1\nBaud=115200\nParity=2\n");
}

TEST_F(SettingsLocationTest, WithoutProgramDirectoryTheNameStandsAlone) {
  OverrideProgramDirectory(std::string());
  EXPECT_EQ(SettingsFilePath(), "Upgrade.ini");
}

TEST_F(SettingsLocationTest, OverrideWins) {
  SetSettingsFilePath(dir_ / "given.ini");
  EXPECT_EQ(SettingsFilePath(), dir_ / "given.ini");
}

TEST_F(SettingsLocationTest, ReadOnlyDirectoryWithoutFileFallsBackToXdgConfigHome) {
  ASSERT_EQ(::chmod(exeDir_.c_str(), 0555), 0);
  const std::string exeDir = exeDir_, xdg = xdg_;
  const int rc = test::RunInChild(
      [&] {
        ::setenv("XDG_CONFIG_HOME", xdg.c_str(), 1);
        if (SettingsFilePath() != xdg + "/stb-upgrade/Upgrade.ini") return 1;
        GetSerialSettings().Baud = 9600;
        SaveSettings();  // creates the folder
        if (ReadFile(xdg + "/stb-upgrade/Upgrade.ini") != "[Config]\nPort=1\nBaud=9600\nParity=2\n")
          return 2;
        GetSerialSettings() = SerialSettings{};
        LoadSettings();  // and reads it back from there
        if (GetSerialSettings().Baud != 9600) return 3;
        // An unset or relative XDG_CONFIG_HOME means ~/.config.
        ::setenv("HOME", "/home/someone", 1);
        ::unsetenv("XDG_CONFIG_HOME");
        if (SettingsFilePath() != "/home/someone/.config/stb-upgrade/Upgrade.ini") return 4;
        ::setenv("XDG_CONFIG_HOME", "relative/dir", 1);
        if (SettingsFilePath() != "/home/someone/.config/stb-upgrade/Upgrade.ini") return 5;
        return 0;
      },
      true);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(::access((exeDir_ + "/Upgrade.ini").c_str(), F_OK), -1);
}

TEST_F(SettingsLocationTest, ReadOnlyDirectoryHoldingTheFileKeepsUsingIt) {
  ASSERT_TRUE(WriteFile(exeDir_ + "/Upgrade.ini", "[Config]\nPort=4\n"));
  ASSERT_EQ(::chmod((exeDir_ + "/Upgrade.ini").c_str(), 0644), 0);
  ASSERT_EQ(::chmod(exeDir_.c_str(), 0555), 0);
  const std::string exeDir = exeDir_, xdg = xdg_;
  const int rc = test::RunInChild(
      [&] {
        ::setenv("XDG_CONFIG_HOME", xdg.c_str(), 1);
        if (SettingsFilePath() != exeDir + "/Upgrade.ini") return 1;
        LoadSettings();
        if (GetSerialSettings().Port != 4) return 2;
        GetSerialSettings().Port = 5;
        SaveSettings();  // fails quietly: the directory is not writable
        if (LastSettingsError().empty()) return 3;
        return 0;
      },
      true);
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(ReadFile(exeDir_ + "/Upgrade.ini"), "[Config]\nPort=4\n");
  EXPECT_EQ(TempDir::List(xdg_), std::vector<std::string>{});
}

}  // namespace
}  // namespace stb
