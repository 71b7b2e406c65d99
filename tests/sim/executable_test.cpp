// stb-box-sim as the shell starts it: the slave path as its first line, the --link,
// a clean end on SIGTERM and SIGINT, and its refusals.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "sim_client.h"

extern char** environ;

namespace stb::sim::test {
namespace {

std::string BoxExecutable() {
  return std::filesystem::read_symlink("/proc/self/exe").parent_path() / "stb-box-sim";
}

// The program with its stdout on a pipe.
struct Program {
  pid_t pid = -1;
  FILE* out = nullptr;

  bool Start(const std::vector<std::string>& args) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return false;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 1);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    std::vector<std::string> all = {BoxExecutable()};
    all.insert(all.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : all) argv.push_back(a.data());
    argv.push_back(nullptr);
    const int r = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    out = fdopen(pipeFds[0], "r");
    return r == 0;
  }
  std::string Line() {
    char buffer[4096];
    return fgets(buffer, sizeof buffer, out) ? std::string(buffer) : std::string();
  }
  std::string All() {
    std::string text;
    for (std::string l = Line(); !l.empty(); l = Line()) text += l;
    return text;
  }
  int Wait() {
    int status = 0;
    waitpid(pid, &status, 0);
    pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  }
  ~Program() {
    if (pid > 0) {
      kill(pid, SIGKILL);
      Wait();
    }
    if (out != nullptr) fclose(out);
  }
};

class BoxExecutableTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!std::filesystem::exists(BoxExecutable())) GTEST_SKIP() << "stb-box-sim not built";
  }
};

TEST_F(BoxExecutableTest, ServesOnItsSlaveAndLinkUntilASignal) {
  for (int signal : {SIGTERM, SIGINT}) {
    const std::string link = "/tmp/stb-box-sim-test-" + std::to_string(getpid());
    Program box;
    ASSERT_TRUE(box.Start({"--protocol", "32", "--link", link}));
    std::string slave = box.Line();
    ASSERT_FALSE(slave.empty());
    slave.pop_back();
    EXPECT_EQ(slave.rfind("/dev/pts/", 0), 0u) << slave;
    EXPECT_EQ(std::filesystem::read_symlink(link), slave);
    SimClient client;
    ASSERT_TRUE(client.Open(link));
    const std::string id = "@KVO PROTOCOL 3.0+";
    EXPECT_EQ(client.Handshake(), std::vector<uint8_t>(id.begin(), id.end()));
    client.Close();
    kill(box.pid, signal);
    EXPECT_EQ(box.Wait(), 0);
    EXPECT_FALSE(std::filesystem::is_symlink(link)) << "the link goes with the box";
  }
}

TEST_F(BoxExecutableTest, HelpAndRefusals) {
  Program help;
  ASSERT_TRUE(help.Start({"--help"}));
  const std::string text = help.All();
  EXPECT_EQ(help.Wait(), 0);
  EXPECT_NE(text.find("--fault NAME[=VALUE]"), std::string::npos);
  EXPECT_NE(text.find("dump-wrong-number"), std::string::npos);
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--protocol", "0"}, {"--fault", "nonsense"}, {"--flash", "/nonexistent/flash.bin"}}) {
    Program bad;
    ASSERT_TRUE(bad.Start(args));
    EXPECT_TRUE(bad.All().empty()) << "no slave path on a refusal";
    EXPECT_NE(bad.Wait(), 0) << args[0];
  }
}

}  // namespace
}  // namespace stb::sim::test
