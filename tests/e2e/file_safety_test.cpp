// Files that would destroy or block, refused by the command line before the port is
// opened; links followed; a broken whole image sent only with --force.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <filesystem>

#include "box_fixture.h"
#include "image/chunk_header.h"

namespace stb::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* kNotRegular = "The file is not a regular file.";
constexpr const char* kChosenTwice = "The file is already chosen for another chunk.";

mode_t TypeOf(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 ? (st.st_mode & S_IFMT) : 0;
}

std::vector<std::string> Names(const std::string& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

bool Has(const CliResult& r, const std::string& text) {
  return r.err.find(text) != std::string::npos;
}

class FileSafetyTest : public BoxFixture {
 protected:
  void SetUp() override { StartBox(0x30); }

  // A refusal must come before the box is even greeted.
  void ExpectRefusedUpFront(const CliResult& r, const std::string& text) {
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_TRUE(Has(r, text)) << "want '" << text << "' in: " << r.err;
    EXPECT_EQ(box_->Stats().handshakes, 0u) << "the port was opened";
  }
  // Runs the command line with a short limit: a blocking open shows as a kill.
  CliResult QuickCli(const std::vector<std::string>& args) {
    if (ini_.empty()) SetIni("");
    std::vector<std::string> full = {"--device", box_->SlavePath(), "--ini", ini_};
    full.insert(full.end(), args.begin(), args.end());
    return RunCli(full, {}, 20000);
  }
  std::string Fifo(const std::string& name) {
    const std::string path = dir_.File(name);
    EXPECT_EQ(::mkfifo(path.c_str(), 0644), 0);
    return path;
  }
};

TEST_F(FileSafetyTest, DumpTargetThatIsNoRegularFileIsLeftAlone) {
  const std::string fifo = Fifo("fifo");
  const std::string link = dir_.File("to-fifo");
  ASSERT_EQ(::symlink(fifo.c_str(), link.c_str()), 0);
  std::vector<std::string> targets = {fifo, link, dir_.Path()};
  if (::geteuid() == 0) {
    // Only root can make device nodes, and only root could have replaced /dev/null.
    const std::string device = dir_.File("null");
    ASSERT_EQ(::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)), 0);
    targets.push_back(device);
    targets.push_back("/dev/null");
  }
  for (const std::string& target : targets) {
    const mode_t before = TypeOf(target);
    ExpectRefusedUpFront(QuickCli({"dump", "--all", target}), target + ": " + kNotRegular);
    ExpectRefusedUpFront(QuickCli({"dump", "--chunk", "1=" + target}), target + ": " + kNotRegular);
    EXPECT_EQ(TypeOf(target), before) << target;
  }
  EXPECT_EQ(TypeOf("/dev/null"), S_IFCHR);
}

TEST_F(FileSafetyTest, DumpThroughLinksReplacesTheFilesTheyName) {
  const std::vector<uint8_t> flash = box_->Flash();
  const auto places = ChunkPlaces(flash);
  fs::create_directory(dir_.File("keep"));
  const std::string real = dir_.Write("keep/flash.bin", {'o', 'l', 'd'});
  ASSERT_EQ(::chmod(real.c_str(), 0640), 0);
  ASSERT_EQ(::symlink("keep/flash.bin", dir_.File("flash.lnk").c_str()), 0);
  const CliResult all = Cli({"dump", "--all", dir_.File("flash.lnk")});
  ASSERT_EQ(all.exitCode, 0) << all.err;
  EXPECT_EQ(TypeOf(dir_.File("flash.lnk")), S_IFLNK);
  EXPECT_EQ(ReadFileBytes(real), flash);
  struct stat st {};
  ASSERT_EQ(::stat(real.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  // A dangling link: the file it names is made in its folder.
  ASSERT_EQ(::symlink("keep/boot.abs", dir_.File("boot.lnk").c_str()), 0);
  const CliResult chunk = Cli({"dump", "--chunk", "0=" + dir_.File("boot.lnk")});
  ASSERT_EQ(chunk.exitCode, 0) << chunk.err;
  EXPECT_EQ(TypeOf(dir_.File("boot.lnk")), S_IFLNK);
  EXPECT_EQ(ReadFileBytes(dir_.File("keep/boot.abs")),
            std::vector<uint8_t>(flash.begin(), flash.begin() + places[0].span));
  EXPECT_EQ(Names(dir_.File("keep")), (std::vector<std::string>{"boot.abs", "flash.bin"}));
  // A link whose folder is missing is refused before the box is asked.
  box_->Stop();
  StartBox(0x30);
  ASSERT_EQ(::symlink("gone/x.bin", dir_.File("gone.lnk").c_str()), 0);
  ExpectRefusedUpFront(Cli({"dump", "--chunk", "1=" + dir_.File("gone.lnk")}), "gone");
}

TEST_F(FileSafetyTest, OneFileForTwoChunksIsRefused) {
  const std::string real = dir_.Write("real.bin", {1, 2});
  ASSERT_EQ(::symlink("real.bin", dir_.File("link.bin").c_str()), 0);
  fs::create_directory(dir_.File("sub"));
  const std::pair<std::string, std::string> pairs[] = {
      {dir_.File("a.bin"), dir_.File("a.bin")},
      {dir_.File("a.bin"), dir_.File("sub/../a.bin")},  // not there yet: by its path
      {real, dir_.File("link.bin")},                    // there: by device and inode
  };
  for (const auto& [first, second] : pairs) {
    ExpectRefusedUpFront(Cli({"dump", "--chunk", "0=" + first, "--chunk", "1=" + second}),
                         second + ": " + kChosenTwice);
  }
  EXPECT_FALSE(fs::exists(dir_.File("a.bin")));
  EXPECT_EQ(ReadFileBytes(real), (std::vector<uint8_t>{1, 2}));
}

TEST_F(FileSafetyTest, InputThatIsNoRegularFileIsRefusedAtOnce) {
  const std::string fifo = Fifo("image.abs");
  for (const char* option : {"--allcode", "--allcode-no-boot"}) {
    ExpectRefusedUpFront(QuickCli({"upgrade", option, fifo}), fifo + ": " + kNotRegular);
  }
  ExpectRefusedUpFront(QuickCli({"upgrade", "--chunk", "5=" + fifo}), fifo + ": " + kNotRegular);
  ExpectRefusedUpFront(QuickCli({"upgrade", "--chunk", "5=" + dir_.Path()}), kNotRegular);
  const CliResult inspect = QuickCli({"inspect", fifo});
  EXPECT_EQ(inspect.exitCode, 2);
  EXPECT_TRUE(Has(inspect, kNotRegular)) << inspect.err;
}

TEST_F(FileSafetyTest, BrokenWholeImageIsSentOnlyWithForce) {
  const std::vector<uint8_t> flash = box_->Flash();
  const auto places = ChunkPlaces(flash);
  std::vector<uint8_t> badCrc = flash;
  badCrc[places[5].start + 200] ^= 0x5A;  // data of chunk 5, its CRC left as it was
  const std::pair<const char*, std::vector<uint8_t>> images[] = {
      {"half.abs", std::vector<uint8_t>(flash.begin(), flash.begin() + places[3].start + 500)},
      {"crc.abs", badCrc},
      {"random.abs", PatternBytes(flash.size(), 77)},
  };
  for (const auto& [name, bytes] : images) {
    const std::string file = dir_.Write(name, bytes);
    // The reason, as inspect names it.
    const CliResult inspect = Cli({"inspect", file});
    ASSERT_EQ(inspect.exitCode, 1) << name;
    const size_t at = inspect.out.find("invalid: ");
    ASSERT_NE(at, std::string::npos) << inspect.out;
    const std::string reason = inspect.out.substr(at + 9, inspect.out.find('\n', at) - at - 9);
    for (const char* option : {"--allcode", "--allcode-no-boot"}) {
      const CliResult r = Cli({"upgrade", option, file});
      ExpectRefusedUpFront(r, file + ": The image is not valid: " + reason + ".");
      EXPECT_TRUE(Has(r, "--force")) << r.err;
      EXPECT_FALSE(Has(r, "Upgrade Success!"));
    }
  }
  EXPECT_EQ(box_->Flash(), flash);

  // Told to, the tool sends the file unchanged.
  const CliResult forced = Cli({"upgrade", "--force", "--allcode", dir_.File("crc.abs")});
  ASSERT_EQ(forced.exitCode, 0) << forced.err;
  EXPECT_TRUE(Has(forced, "Upgrade Success!"));
  EXPECT_EQ(box_->Flash(), badCrc);
}

}  // namespace
}  // namespace stb::test
