// The command line under the signals a technician's session sends: a dropped SSH
// connection, Ctrl-\, Ctrl-C between the download and the burn, and a closed stderr.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include "box_fixture.h"

namespace stb::test {
namespace {

class SignalsTest : public BoxFixture {};

TEST_F(SignalsTest, HangupAndQuitCancelLikeInterrupt) {
  for (int signal : {SIGHUP, SIGQUIT}) {
    SCOPED_TRACE(signal);
    sim::BoxOptions options;
    options.baud = 115200;  // slow enough to stop in the middle
    StartBox(std::move(options));
    const auto before = box_->Flash();
    const auto raw = PatternBytes(ChunkPlaces(before)[5].span - 128, 5);
    const CliResult r = Cli({"upgrade", "--chunk", "5=" + dir_.Write("app.bin", raw)},
                            CliSignal{"Downloade Code:", signal});
    EXPECT_EQ(r.exitCode, 130) << r.err;
    EXPECT_NE(r.err.find("Cancelling..."), std::string::npos) << r.err;
    EXPECT_TRUE(LogShows("abort")) << "the box was not told";
    EXPECT_EQ(box_->Stats().burns, 0u);
    EXPECT_EQ(box_->Stats().reboots, 0u);
    EXPECT_EQ(box_->Flash(), before);
    box_->Stop();
  }
}

// The whole image has gone out; the upgrade waits a second before the burn.
TEST_F(SignalsTest, InterruptAfterTheLastDataPacketBurnsNothing) {
  StartBox(0x30);
  const auto before = box_->Flash();
  const CliResult r =
      Cli({"upgrade", "--allcode", dir_.Write("image.abs", before)}, CliSignal{"100%", SIGINT});
  EXPECT_EQ(r.exitCode, 130) << r.err;
  EXPECT_NE(r.err.find("Operation von Benutzer abgebrochen!"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("FLASHE"), std::string::npos) << r.err;
  EXPECT_EQ(box_->Stats().burns, 0u);
  EXPECT_EQ(box_->Stats().reboots, 0u);
}

// stderr into a reader that has gone (2>&1 | head -1): the dump goes on to its end.
TEST_F(SignalsTest, ClosedStderrDoesNotStopTheOperation) {
  StartBox(0x30);
  SetIni("");
  const std::string target = dir_.File("flash.bin");
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);  // nobody reads: every write to stderr meets EPIPE
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::dup2(fds[1], STDERR_FILENO);
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, STDOUT_FILENO);
    const std::string device = box_->SlavePath();
    ::execl(STB_CLI_PATH, STB_CLI_PATH, "--device", device.c_str(), "--ini", ini_.c_str(), "dump",
            "--all", target.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(fds[1]);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(ReadFileBytes(target), box_->Flash());
}

}  // namespace
}  // namespace stb::test
