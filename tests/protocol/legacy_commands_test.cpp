// The typed command line every legacy command begins with, and the one-letter answers
// of address and move.
#include <functional>
#include <string>

#include "legacy_fixture.h"
#include "protocol/bulk_transfer.h"
#include "protocol/legacy.h"

namespace stb::test {
namespace {

struct CommandCase {
  const char* name;
  std::function<int()> run;
  uint32_t version;  // protocol version at the call
  std::string line;  // what the tool types
  Bytes answer;      // what the box sends once the line is complete
  bool waitsFirst;   // the 100 ms pause before the line
};

std::vector<CommandCase> AllCommands() {
  static uint8_t data[4] = {1, 2, 3, 4};
  static uint8_t dump[kDumpBufferSize];
  static int32_t total = 0;
  static uint32_t version = 0;
  static TargetChunkTable table{};
  const Bytes emptyInfo = BigEndian16(2) + Bytes{5, 0} + CrcBytes({5, 0});
  return {
      {"info", [] { return LegacyReadInfo(version, table); }, 0, "version -r\r", emptyInfo, true},
      {"address",
       [] { return LegacySetAddress(4294967295u); },
       0,
       "address 4294967295\r",
       {'O'},
       true},
      {"move", [] { return LegacyMove(1, 4000000000u); }, 0, "move 1 4000000000\r", {'O'}, true},
      {"download",
       [] { return LegacyDownload(data, 0, nullptr, nullptr); },
       0,
       "transferraw 0\r",
       {'O'},
       true},
      {"download negative",
       [] { return LegacyDownload(data, -5, nullptr, nullptr); },
       0,
       "transferraw -5\r",
       {'O'},
       true},
      {"burn", [] { return LegacyBurn(100, nullptr); }, 0, "burn\r", {'O', 'F'}, true},
      {"stream dump", [] { return LegacyDump(dump, total, nullptr, nullptr, 7, 9); }, 31, "dump\r",
       BigEndian32(0), true},
      {"block dump", [] { return LegacyDump(dump, total, nullptr, nullptr, 16, 4294967295u); }, 32,
       "dump 16 4294967295\r", BigEndian32(0), true},
      {"reboot", [] { return LegacyReboot(); }, 0, "reboot\r", {}, false},
  };
}

using LegacyCommandLine = LegacyTest;

TEST_F(LegacyCommandLine, EachCommandTypesItsLineAfterDroppingStaleInput) {
  for (const CommandCase& c : AllCommands()) {
    SCOPED_TRACE(c.name);
    port_->ClearWritten();
    SetProtocolVersion(c.version);
    box_.onCommand = [&](const std::string&) { box_.Send(c.answer); };
    port_->Deliver(std::string("stale"));
    const int purgesBefore = port_->purgeInputCount;
    const uint32_t start = Now();

    EXPECT_EQ(c.run(), 0);
    ASSERT_FALSE(box_.Lines().empty());
    EXPECT_EQ(box_.Lines().back(), c.line);
    EXPECT_GT(port_->purgeInputCount, purgesBefore);
    EXPECT_EQ(box_.LineStartMs() - start, c.waitsFirst ? 100u : 0u);
  }
}

TEST_F(LegacyCommandLine, AnyFailureOfTheEchoIsSendCommandError) {
  struct Fault {
    const char* name;
    bool echoes;
    bool garbled;
    uint32_t delayMs;
    int64_t writeBudget;
  };
  const Fault faults[] = {
      {"silent box", false, false, 0, -1},
      {"echo too late", true, false, 250, -1},
      {"wrong echo", true, true, 0, -1},
      {"line refuses writes", true, false, 0, 0},
  };
  for (const Fault& fault : faults) {
    for (const CommandCase& c : AllCommands()) {
      SCOPED_TRACE(std::string(fault.name) + " / " + c.name);
      SetProtocolVersion(c.version);
      box_.echoes = fault.echoes;
      box_.garbleEchoes = fault.garbled;
      box_.echoDelayMs = fault.delayMs;
      port_->writeBudget = fault.writeBudget;
      EXPECT_EQ(c.run(), 5);
      clock_->Advance(1000);  // let late echoes drain before the next case
    }
  }
}

TEST_F(LegacyCommandLine, EchoesWithinTwoHundredMillisecondsAreAccepted) {
  box_.echoDelayMs = 199;
  box_.onCommand = [&](const std::string&) { box_.Send(Bytes{'O'}); };
  EXPECT_EQ(LegacySetAddress(0), 0);
}

struct LetterCase {
  const char* name;
  int (*run)();
  Bytes answer;
  uint32_t delayMs;
  int expected;
};

TEST_F(LegacyCommandLine, AddressAndMoveTakeOnlyOAsSuccess) {
  auto address = [] { return LegacySetAddress(0x10000); };
  auto move = [] { return LegacyMove(0, 0x80000); };
  const LetterCase cases[] = {
      {"address O", address, {'O'}, 0, 0},
      {"address E", address, {'E'}, 0, 10},
      {"address other", address, {'x'}, 0, 10},
      {"address late", address, {'O'}, 900, 0},
      {"address silent", address, {'O'}, 1100, 8},
      {"move O", move, {'O'}, 0, 0},
      {"move E", move, {'E'}, 0, 10},
      {"move slow", move, {'O'}, 9900, 0},
      {"move silent", move, {'O'}, 10100, 8},
  };
  for (const LetterCase& c : cases) {
    SCOPED_TRACE(c.name);
    box_.onCommand = [&](const std::string&) { box_.Send(c.answer, c.delayMs); };
    EXPECT_EQ(c.run(), c.expected);
  }
}

}  // namespace
}  // namespace stb::test
