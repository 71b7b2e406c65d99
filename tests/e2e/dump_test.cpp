#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <thread>

#include "box_fixture.h"

namespace stb::test {
namespace {

class DumpTest : public BoxFixture {};

TEST_F(DumpTest, WholeFlashOfEachGenerationEqualsTheBoxFlash) {
  for (uint32_t protocol : {0x30u, 33u, 32u, 16u}) {
    StartBox(protocol);
    SetIni(protocol == 16 ? "TransferFormat2=0\n" : "");
    const std::string file = dir_.File("flash-" + std::to_string(protocol) + ".bin");
    const CliResult r = Cli({"dump", "--all", file});
    ASSERT_EQ(r.exitCode, 0) << protocol << r.err;
    EXPECT_NE(r.err.find("Dumpe Allcode "), std::string::npos);
    EXPECT_NE(r.err.find("Dump Success!"), std::string::npos);
    EXPECT_EQ(ReadFileBytes(file), box_->Flash()) << protocol;
    box_->Stop();
  }
}

TEST_F(DumpTest, SingleChunksHoldTheirDataWithoutHeader) {
  StartBox(0x30);
  const std::vector<uint8_t> flash = box_->Flash();
  const auto places = ChunkPlaces(flash);
  ASSERT_GE(places.size(), 6u);
  const std::string boot = dir_.File("boot.abs"), logo = dir_.File("logo.m2v");
  const CliResult r = Cli({"--json", "dump", "--chunk", "0=" + boot, "--chunk", "1=" + logo});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_NE(r.out.find("\"result\": \"success\""), std::string::npos) << r.out;
  // The boot loader keeps its header; every other chunk is dumped behind it.
  EXPECT_EQ(ReadFileBytes(boot),
            std::vector<uint8_t>(flash.begin(), flash.begin() + places[0].span));
  const size_t s = places[1].start + 128;
  EXPECT_EQ(ReadFileBytes(logo),
            std::vector<uint8_t>(flash.begin() + s, flash.begin() + s + places[1].span - 128));
}

TEST_F(DumpTest, CancelSendsAbortAndLeavesTheOldFile) {
  sim::BoxOptions options;
  options.protocol = 0x30;
  options.baud = 115200;  // the dump takes long enough to be cancelled
  StartBox(std::move(options));
  const std::vector<uint8_t> old = {'o', 'l', 'd'};
  const std::string file = dir_.Write("flash.bin", old);
  const CliResult r = Cli({"--json", "dump", "--all", file}, CliSignal{"Dumpe Allcode", SIGINT});
  EXPECT_EQ(r.exitCode, 130) << r.err;
  EXPECT_NE(r.out.find("\"result\": \"cancelled\""), std::string::npos) << r.out;
  EXPECT_NE(r.err.find("Operation von Benutzer abgebrochen!"), std::string::npos) << r.err;
  EXPECT_EQ(ReadFileBytes(file), old);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_.Path()), {}), 2);  // + ini
  EXPECT_TRUE(LogShows("abort")) << "the box was not told";
}

TEST_F(DumpTest, UnusableTargetsAreRefusedBeforeTheBoxIsAsked) {
  StartBox(0x30);
  const CliResult noDir = Cli({"dump", "--all", dir_.File("missing/flash.bin")});
  EXPECT_EQ(noDir.exitCode, 2);
  EXPECT_NE(noDir.err.find("missing"), std::string::npos) << noDir.err;
  const CliResult both =
      Cli({"dump", "--all", dir_.File("a.bin"), "--chunk", "1=" + dir_.File("b.bin")});
  EXPECT_EQ(both.exitCode, 2);
  EXPECT_EQ(Cli({"dump"}).exitCode, 2);
}

TEST_F(DumpTest, BoxThatDisappearsEndsWithAnErrorAndNoFile) {
  sim::BoxOptions options;
  options.protocol = 0x30;
  options.baud = 115200;
  StartBox(std::move(options));
  const std::string file = dir_.File("flash.bin");
  std::thread killer([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    box_->Stop();
  });
  const CliResult r = Cli({"dump", "--all", file});
  killer.join();
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_FALSE(std::filesystem::exists(file));
}

}  // namespace
}  // namespace stb::test
