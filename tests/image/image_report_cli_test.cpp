// Runs the built stb-upgrade-cli beside this test program; skipped when it is not built.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "context/settings.h"
#include "image_test_util.h"

extern char** environ;

namespace stb {
namespace {

using test::ChunkSpec;
using test::CrcMode;

struct CliRun {
  int exitCode = -1;
  std::string out;
};

CliRun RunCli(const std::vector<std::string>& args, const test::TempDir& dir) {
  const std::string cli = GetProgramDirectory() + "stb-upgrade-cli";
  std::vector<std::string> all = {cli};
  all.insert(all.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  const std::string outFile = dir.File("stdout");
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
  CliRun run;
  pid_t pid = 0;
  if (::posix_spawn(&pid, cli.c_str(), &files, nullptr, argv.data(), environ) == 0) {
    int status = 0;
    ::waitpid(pid, &status, 0);
    if (WIFEXITED(status)) run.exitCode = WEXITSTATUS(status);
  }
  posix_spawn_file_actions_destroy(&files);
  const std::vector<uint8_t> bytes = test::ReadFileBytes(outFile);
  run.out.assign(bytes.begin(), bytes.end());
  return run;
}

TEST(InspectCli, JsonAndExitCodes) {
  if (::access((GetProgramDirectory() + "stb-upgrade-cli").c_str(), X_OK) != 0) {
    GTEST_SKIP() << "stb-upgrade-cli is not built beside the tests";
  }
  test::TempDir dir;
  test::ImageBytes good;
  good.Put(0, {0xE3000010u, 240, 256, CrcMode::kMarker, "boot"})
      .Put(256, {0x04FB0100u, 200, 0, CrcMode::kMarker, "db"});
  const std::string goodPath = dir.Write("good.bin", good.bytes());
  const CliRun valid = RunCli({"inspect", goodPath, "--json"}, dir);
  EXPECT_EQ(valid.exitCode, 0);
  EXPECT_EQ(valid.out, "{\"file\": \"" + goodPath +
                           "\", \"valid\": true, \"error\": null, \"chunks\": ["
                           "{\"offset\": 0, \"id\": 3808428048, \"name\": \"boot\", \"version\": "
                           "\"1.0\", \"info\": \"\", \"length\": 240, \"nextOffset\": 256, "
                           "\"crc\": 1313034819, \"crcStatus\": \"none\", \"size\": 256}, "
                           "{\"offset\": 256, \"id\": 83558656, \"name\": \"db\", \"version\": "
                           "\"1.0\", \"info\": \"\", \"length\": 200, \"nextOffset\": 0, "
                           "\"crc\": 1313034819, \"crcStatus\": \"none\", \"size\": 216}]}\n");

  test::ImageBytes bad;
  bad.Put(0, {0xE3000010u, 240, 256}).Put(256, {0x02FD0100u, 200, 0, CrcMode::kWrong});
  const CliRun invalid = RunCli({"inspect", dir.Write("bad.bin", bad.bytes())}, dir);
  EXPECT_EQ(invalid.exitCode, 1);
  EXPECT_NE(invalid.out.find("invalid: chunk 1 at offset 256: CRC mismatch\n"), std::string::npos)
      << invalid.out;
  EXPECT_NE(invalid.out.find(" bad "), std::string::npos) << invalid.out;

  EXPECT_EQ(RunCli({"inspect", dir.File("missing.bin")}, dir).exitCode, 2);
  EXPECT_EQ(RunCli({"inspect"}, dir).exitCode, 2);
}

}  // namespace
}  // namespace stb
