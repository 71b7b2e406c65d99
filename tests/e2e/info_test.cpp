#include <gtest/gtest.h>

#include "box_fixture.h"

namespace stb::test {
namespace {

class InfoTest : public BoxFixture {};

TEST_F(InfoTest, ReportsVersionAndChunkTableOfEachGeneration) {
  for (uint32_t protocol : {0x30u, 0x31u, 33u, 32u, 16u}) {
    StartBox(protocol);
    // Boxes below 33 report no version: the settings say which generation they are.
    SetIni(protocol == 16 ? "TransferFormat2=0\n" : "");
    const CliResult r = Cli({"--json", "info"});
    EXPECT_EQ(r.exitCode, 0) << protocol << r.err;
    EXPECT_NE(r.out.find("\"protocolVersion\": " + std::to_string(protocol) + ","),
              std::string::npos)
        << protocol << r.out;
    EXPECT_NE(r.out.find("\"flashSize\": 1048576"), std::string::npos) << r.out;
    for (uint32_t id : {0xE3000010u, 0x02FD0100u, 0x04FB0100u}) {
      EXPECT_NE(r.out.find("\"id\": " + std::to_string(id) + ","), std::string::npos) << protocol;
    }
    EXPECT_NE(r.out.find("\"index\": 6,"), std::string::npos) << protocol;
    box_->Stop();
  }
}

TEST_F(InfoTest, BoxReportingNoVersionGetsTheConfiguredDefault) {
  for (int format : {1, 0}) {
    sim::BoxOptions options;
    options.protocol = 0x30;
    options.reportVersion = 0;
    StartBox(std::move(options));
    SetIni("TransferFormat2=" + std::to_string(format) + "\n");
    const CliResult r = Cli({"--json", "info"});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const std::string expected = format != 0 ? "32" : "16";
    EXPECT_NE(r.out.find("\"protocolVersion\": " + expected + ","), std::string::npos) << r.out;
    box_->Stop();
  }
}

TEST_F(InfoTest, ChunkMaskHidesAChunk) {
  StartBox(0x30);
  SetIni("ChunkMask=02FD0200,\n");
  const CliResult r = Cli({"--json", "info"});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const size_t logo2 = r.out.find("\"id\": " + std::to_string(0x02FD0200u));
  ASSERT_NE(logo2, std::string::npos);
  EXPECT_EQ(r.out.find("\"masked\": true"), r.out.find("\"masked\": true", logo2));
  EXPECT_NE(r.out.find("\"masked\": true", logo2), std::string::npos);
  // A hidden chunk cannot be chosen.
  const CliResult d = Cli({"dump", "--chunk", "2=" + dir_.File("logo2.m2v")});
  EXPECT_EQ(d.exitCode, 2) << d.err;
  EXPECT_NE(d.err.find("ChunkMask"), std::string::npos) << d.err;
}

TEST_F(InfoTest, SilentBoxAndMissingPortFailWithTheirTexts) {
  sim::BoxOptions options;
  options.faults.silentHandshake = true;
  StartBox(std::move(options));
  // A missing device fails at once, with the system's reason.
  const CliResult missing =
      RunCli({"--device", dir_.File("no-such-tty"), "--ini", dir_.Write("empty.ini", {}), "info"});
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_NE(missing.err.find("Kann nicht zu Serialport verbinden!"), std::string::npos);
  EXPECT_NE(missing.err.find("No such file or directory"), std::string::npos) << missing.err;
  EXPECT_EQ(missing.err.find("Synchronisiere Port.."), std::string::npos);
}

}  // namespace
}  // namespace stb::test
