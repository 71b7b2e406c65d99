// The box's faults and command line: what is taken, and what is refused with a reason.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/box_cli.h"
#include "sim/faults.h"

namespace stb::sim {
namespace {

TEST(FaultParsing, TakesEveryFaultWithItsValue) {
  BoxFaults f;
  std::string error;
  for (const char* fault :
       {"noise", "corrupt-header-crc=2", "corrupt-header-crc=5", "corrupt-payload-crc=3",
        "drop-reply=1", "error=address:0x10003", "error=burn:9", "no-handshake", "burn-fail",
        "dump-done", "dump-total-zero", "dump-wrong-number=4", "corrupt-random=0.01"})
    ASSERT_TRUE(ParseFault(fault, f, error)) << fault << ": " << error;
  EXPECT_EQ(f.noiseBytes, 8u);
  EXPECT_EQ(f.corruptHeaderCrc, (std::set<uint32_t>{2, 5}));
  EXPECT_EQ(f.corruptPayloadCrc, (std::set<uint32_t>{3}));
  EXPECT_EQ(f.dropReply, (std::set<uint32_t>{1}));
  EXPECT_EQ(f.errorFor.at("address"), 0x10003u);
  EXPECT_EQ(f.errorFor.at("burn"), 9u);
  EXPECT_TRUE(f.silentHandshake && f.burnFails && f.dumpTotalZero);
  EXPECT_EQ(f.dumpDoneAt, 1u);
  EXPECT_EQ(f.dumpWrongNumberAt, 4u);
  EXPECT_DOUBLE_EQ(f.corruptFraction, 0.01);
}

TEST(FaultParsing, RefusesBadFaults) {
  for (const char* fault :
       {"", "bogus", "drop-reply", "drop-reply=0", "drop-reply=x", "drop-reply=-1",
        "corrupt-header-crc=99999999999", "error=address", "error=:5", "error=address:x",
        "burn-fail=1", "no-handshake=yes", "dump-wrong-number=1", "corrupt-random=1.5",
        "corrupt-random=", "corrupt-random=abc", "noise=0", "noise=100000"}) {
    BoxFaults f;
    std::string error;
    EXPECT_FALSE(ParseFault(fault, f, error)) << fault;
    EXPECT_FALSE(error.empty()) << fault;
  }
}

TEST(BoxCommandLine, FillsTheOptions) {
  BoxOptions o;
  std::string error;
  ASSERT_EQ(ParseBoxArguments({"--protocol",
                               "0x31",
                               "--report-version=0",
                               "--flash",
                               "f.bin",
                               "--flash-type",
                               "5",
                               "--save-flash",
                               "s.bin",
                               "--link",
                               "/tmp/l",
                               "--dump-packet",
                               "512",
                               "--baud",
                               "115200",
                               "--seed",
                               "7",
                               "--fault",
                               "drop-reply=2",
                               "--fault=burn-fail",
                               "--log"},
                              o, error),
            CliOutcome::Run)
      << error;
  EXPECT_EQ(o.protocol, 0x31u);
  EXPECT_EQ(o.reportVersion, 0);
  EXPECT_EQ(o.flashFile, "f.bin");
  EXPECT_EQ(o.flashType, 5);
  EXPECT_EQ(o.saveFlashFile, "s.bin");
  EXPECT_EQ(o.linkPath, "/tmp/l");
  EXPECT_EQ(o.dumpPacket, 512u);
  EXPECT_EQ(o.baud, 115200u);
  EXPECT_EQ(o.seed, 7u);
  EXPECT_TRUE(o.faults.dropReply.count(2) && o.faults.burnFails && o.log);
}

TEST(BoxCommandLine, RefusesBadArguments) {
  const std::vector<std::vector<std::string>> cases = {
      {"--protocol"},
      {"--protocol", "0"},
      {"--protocol", "70000"},
      {"--protocol", "abc"},
      {"--dump-packet", "0"},
      {"--dump-packet", "2041"},
      {"--flash-type", "256"},
      {"--fault", "nonsense"},
      {"--baud", "-5"},
      {"--verbose"},
      {"extra"},
  };
  for (const auto& args : cases) {
    BoxOptions o;
    std::string error;
    EXPECT_EQ(ParseBoxArguments(args, o, error), CliOutcome::Error) << args[0];
    EXPECT_FALSE(error.empty()) << args[0];
  }
  BoxOptions o;
  std::string error;
  EXPECT_EQ(ParseBoxArguments({"--log", "-h"}, o, error), CliOutcome::Help);
}

TEST(BoxCommandLine, HelpNamesEveryOptionAndFault) {
  const std::string help = BoxHelpText();
  for (const char* option :
       {"--protocol", "--report-version", "--flash ", "--flash-type", "--save-flash", "--link",
        "--dump-packet", "--baud", "--fault", "--seed", "--log", "--help"})
    EXPECT_NE(help.find(option), std::string::npos) << option;
  for (const auto& [name, meaning] : FaultDescriptions()) {
    const std::string bare = name.substr(0, name.find_first_of("[="));
    EXPECT_NE(help.find("  " + bare), std::string::npos) << bare;
    BoxFaults f;
    std::string error;
    // Every fault the help names is one the parser takes.
    const std::string sample = name.find(":VALUE") != std::string::npos      ? bare + "=burn:1"
                               : name.find("=FRACTION") != std::string::npos ? bare + "=0.5"
                               : name.find("=N") != std::string::npos        ? bare + "=3"
                                                                             : bare;
    EXPECT_TRUE(ParseFault(sample, f, error)) << sample << ": " << error;
  }
}

}  // namespace
}  // namespace stb::sim
