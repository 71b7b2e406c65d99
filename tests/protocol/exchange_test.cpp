#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "context/error_table.h"
#include "protocol/command_exchange.h"
#include "protocol/packet.h"
#include "scripted_packet_box.h"

namespace stb {
namespace {

using test::Bytes;
using test::Join;
using test::WirePacket;
using Reply = std::function<void(const WirePacket&)>;

// The box answers the n-th command packet with the n-th reply; further commands get
// no answer.
class ExchangeTest : public test::PacketBoxTest {
 protected:
  void Script(std::vector<Reply> replies) {
    replies_ = std::move(replies);
    next_ = 0;
    box_.OnPacket([this](const WirePacket& p) {
      if (p.Is(PacketType::Command) && next_ < replies_.size()) replies_[next_++](p);
    });
  }
  Reply Silence() {
    return [](const WirePacket&) {};
  }
  Reply Status(LoaderStatus status, uint32_t value = 0) {
    return [this, status, value](const WirePacket&) { box_.Status(status, value); };
  }
  Reply Data(uint32_t number, Bytes data) {
    return [this, number, data](const WirePacket&) { box_.Data(number, data); };
  }
  Reply Raw(std::function<Bytes(const WirePacket&)> make) {
    return [this, make](const WirePacket& p) { box_.Send(make(p)); };
  }
  Reply HeaderCrcBroken() {
    return Raw([](const WirePacket& p) {
      Bytes b = test::StatusFrame(p.sequence, LoaderStatus::Ack, 0);
      b[15] ^= 0xFF;
      return b;
    });
  }
  std::string RetryLine(const std::string& reason, const std::string& command) {
    return "\r\n->Error:" + reason + "\r\n in execute command:" + command + " Retry.";
  }

  std::vector<Reply> replies_;
  size_t next_ = 0;
};

TEST_F(ExchangeTest, ThirdAttemptSucceedsAfterCrcFailureAndTimeout) {
  Script({HeaderCrcBroken(), Silence(), Status(LoaderStatus::Ack)});
  EXPECT_EQ(ExecuteCommand("address 5\r", 1000, nullptr), 0);
  EXPECT_EQ(Logs(), (std::vector<std::string>{
                        "\r\n->Error:Check packet head CRC error!",
                        RetryLine("Check packet head CRC error!", "address 5\r"), ".", "OK"}));
  const auto commands = box_.Received(PacketType::Command);
  ASSERT_EQ(commands.size(), 3u);
  for (uint8_t i = 0; i < 3; ++i) {
    EXPECT_EQ(commands[i].sequence, 1u);
    EXPECT_EQ(commands[i].retry, i);
    EXPECT_EQ(commands[i].Text(), "address 5\r");
  }
}

TEST_F(ExchangeTest, FiveTimeoutsGiveNoPacket) {
  Script({});
  const uint32_t start = clock_->NowMs();
  EXPECT_EQ(ExecuteCommand("reboot\r", 1000, nullptr), err::kNoPacket);
  EXPECT_EQ(Logs(), (std::vector<std::string>{RetryLine("No Packet receive!", "reboot\r"), ".", ".",
                                              ".", "."}));
  EXPECT_EQ(box_.Commands().size(), 5u);
  EXPECT_LT(clock_->NowMs() - start, 5u * 1000u + 50u);
}

TEST_F(ExchangeTest, ErrorStatusEndsAtOnceOnlyForTheBoxCodes) {
  struct Case {
    uint32_t value;
    int result;
    size_t commands;
    std::vector<std::string> logs;
  };
  const std::vector<Case> cases = {
      {0x10003, 0x10003, 1, {}},
      {0xFFFFFFFF, -1, 1, {}},
      {9, 9, 5, {RetryLine("CRC check error!", "address 0\r"), ".", ".", ".", "."}},
      // A code without a text is named by its number.
      {80, 80, 5, {RetryLine("Unknown error 80", "address 0\r"), ".", ".", ".", "."}},
      // Error with value 0 must not end as a success.
      {0,
       err::kTargetError,
       5,
       {RetryLine("Target return error when oprate!", "address 0\r"), ".", ".", ".", "."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    window_->Clear();
    const size_t before = box_.Commands().size();
    Script(std::vector<Reply>(5, Status(LoaderStatus::Error, c.value)));
    EXPECT_EQ(PacketSetAddress(0), c.result);
    EXPECT_EQ(box_.Commands().size() - before, c.commands);
    EXPECT_EQ(Logs(), c.logs);
  }
}

TEST_F(ExchangeTest, RepliesThatAreNotAFittingStatusAreUnrecognised) {
  struct Case {
    const char* name;
    std::function<Bytes(const WirePacket&)> reply;
  };
  const std::vector<Case> cases = {
      {"length 6",
       [](const WirePacket& p) {
         return test::Frame(3, p.sequence, Bytes{0, 0, 0, 0, 0, 0});
       }},
      {"length 4",
       [](const WirePacket& p) {
         return test::Frame(3, p.sequence, Bytes{0, 0, 0, 0});
       }},
      {"earlier sequence",
       [](const WirePacket& p) { return test::StatusFrame(p.sequence - 1, LoaderStatus::Ack, 0); }},
      {"data packet", [](const WirePacket& p) { return test::DataFrame(p.sequence, 0, {1}); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    window_->Clear();
    Script({Raw(c.reply), Status(LoaderStatus::Ack)});
    EXPECT_EQ(ExecuteCommand("move 1 2\r", 1000, nullptr), 0);
    EXPECT_EQ(Logs(),
              (std::vector<std::string>{RetryLine("Packet not recognize!", "move 1 2\r"), "OK"}));
  }
}

TEST_F(ExchangeTest, StatusOfTheReplyIsHandedOut) {
  for (LoaderStatus s : {LoaderStatus::Ack, LoaderStatus::Working, LoaderStatus::Done}) {
    Script({Status(s, 77)});
    uint8_t status = 0xEE;
    EXPECT_EQ(ExecuteCommand("x\r", 1000, &status), 0);
    EXPECT_EQ(status, static_cast<uint8_t>(s));
  }
  EXPECT_TRUE(Logs().empty());
  EXPECT_EQ(port_->purgeInputCount, 3);  // once per exchange
}

TEST_F(ExchangeTest, SendFailurePassesItsCodeOn) {
  port_->writeBudget = 0;
  EXPECT_EQ(ExecuteCommand("burn\r", 1000, nullptr), err::kSendPacketHead);
  const auto logs = Logs();
  ASSERT_EQ(logs.size(), 10u);  // the framing line and the exchange's line, five times
  EXPECT_EQ(logs[1], RetryLine("Send packet head error!", "burn\r"));
  EXPECT_EQ(logs[3], ".");
}

TEST_F(ExchangeTest, DataCommandTakesTheDataReply) {
  Script({Data(0, {0xDE, 0xAD})});
  uint8_t buffer[2048] = {};
  uint32_t length = 0;
  EXPECT_EQ(ExecuteDataCommand("version\r", 1000, nullptr, length, buffer), 0);
  EXPECT_EQ(length, 6u);
  EXPECT_EQ(Bytes(buffer, buffer + 6), (Bytes{0, 0, 0, 0, 0xDE, 0xAD}));
  EXPECT_TRUE(Logs().empty());
}

TEST_F(ExchangeTest, DataCommandWithFiveDoneRepliesOpensNewExchangesAndFails) {
  Script(std::vector<Reply>(5, Status(LoaderStatus::Done)));
  uint8_t buffer[2048];
  uint32_t length = 0;
  uint8_t status = 0xEE;
  EXPECT_EQ(ExecuteDataCommand("chunk\r", 1000, &status, length, buffer), err::kPacketUnrecognised);
  EXPECT_EQ(status, static_cast<uint8_t>(LoaderStatus::Done));
  const auto commands = box_.Received(PacketType::Command);
  ASSERT_EQ(commands.size(), 5u);
  for (uint32_t i = 0; i < 5; ++i) {
    EXPECT_EQ(commands[i].sequence, i + 1);
    EXPECT_EQ(commands[i].retry, 0);
  }
  EXPECT_TRUE(Logs().empty());
}

TEST_F(ExchangeTest, DataCommandRetryRules) {
  struct Case {
    const char* name;
    std::vector<Reply> replies;
    int result;
    std::vector<std::string> logs;
  };
  auto earlier = Raw([](const WirePacket& p) { return test::DataFrame(p.sequence - 1, 0, {}); });
  const std::vector<Case> cases = {
      {"earlier sequence", {earlier, Data(0, {})}, 0, {".", "OK"}},
      {"done then data", {Status(LoaderStatus::Done), Data(0, {})}, 0, {"OK"}},
      {"working", {Status(LoaderStatus::Working), Data(0, {})}, 0, {".", "OK"}},
      {"request packet",
       {Raw([](const WirePacket& p) { return test::Frame(2, p.sequence, test::Be32(0)); }),
        Data(0, {})},
       0,
       {".", "OK"}},
      {"small error",
       {Status(LoaderStatus::Error, 9), Data(0, {})},
       0,
       {RetryLine("CRC check error!", "version\r"), "OK"}},
      {"box error", {Status(LoaderStatus::Error, 0x10005)}, 0x10005, {}},
      {"timeouts then error 9",
       {Silence(), Silence(), Silence(), Silence(), Status(LoaderStatus::Error, 9)},
       9,
       {RetryLine("No Packet receive!", "version\r"), ".", ".", ".", "."}},
      {"error 9 then timeouts",
       {Status(LoaderStatus::Error, 9)},
       err::kNoPacket,
       {RetryLine("CRC check error!", "version\r"), ".", ".", ".", "."}},
      {"last without code",
       {Silence(), Silence(), Silence(), Silence(), Status(LoaderStatus::Ack)},
       err::kPacketUnrecognised,
       {RetryLine("No Packet receive!", "version\r"), ".", ".", ".", "."}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    window_->Clear();
    Script(c.replies);
    uint8_t buffer[2048];
    uint32_t length = 0;
    EXPECT_EQ(ExecuteDataCommand("version\r", 1000, nullptr, length, buffer), c.result);
    EXPECT_EQ(Logs(), c.logs);
  }
}

TEST_F(ExchangeTest, ReadVersion) {
  Script({Data(0, {0, 0, 0, 0x30})});
  uint32_t version = 0;
  EXPECT_EQ(PacketReadVersion(version), 0);
  EXPECT_EQ(version, 48u);
  EXPECT_EQ(box_.Commands(), std::vector<std::string>{"version\r"});

  // A reply without the number yields the zero bytes of the buffer.
  Script({Data(0, {})});
  EXPECT_EQ(PacketReadVersion(version), 0);
  EXPECT_EQ(version, 0u);

  version = 7;
  Script({});
  EXPECT_EQ(PacketReadVersion(version), err::kNoPacket);
  EXPECT_EQ(version, 7u);
}

TEST_F(ExchangeTest, ReadChunkTableDecodesThePayloadBehindTheNumber) {
  // 384 table bytes: flash type, info byte, two entries and 126 bytes that are ignored.
  Bytes table = {13, 0x5A};
  for (uint32_t id : {0x03FC0100u, 0x02FD0100u}) {
    Bytes entry = Join({test::Be32(id), test::Be32(240), test::Be32(256), test::Be32(0x11223344)});
    const std::string name = "chunk" + std::to_string(id & 0xFF);
    entry.insert(entry.end(), name.begin(), name.end());
    entry.resize(128, 0);
    table.insert(table.end(), entry.begin(), entry.end());
  }
  table.resize(384, 0x77);
  Script({Data(0, table)});
  TargetChunkTable result{};
  EXPECT_EQ(PacketReadChunkTable(result), 0);
  EXPECT_EQ(box_.Commands(), std::vector<std::string>{"chunk\r"});
  EXPECT_EQ(result.flashSize, 0x100000u);
  EXPECT_EQ(result.flashInfo, 0x5Au);
  EXPECT_EQ(result.chunkCount, 2u);
  EXPECT_EQ(result.chunks[0].id, 0x03FC0100u);
  EXPECT_EQ(result.chunks[0].crc, 0x11223344u);
  EXPECT_STREQ(result.chunks[1].name, "chunk0");
}

TEST_F(ExchangeTest, ReadChunkTableLeavesTheTableAloneOnFailure) {
  TargetChunkTable table{};
  table.chunkCount = 3;
  // A reply too short for its packet number holds no table.
  Script({Raw([](const WirePacket& p) { return test::Frame(1, p.sequence, Bytes{0, 0}); })});
  EXPECT_EQ(PacketReadChunkTable(table), err::kPacketUnrecognised);
  EXPECT_EQ(table.chunkCount, 3u);
  Script({});
  EXPECT_EQ(PacketReadChunkTable(table), err::kNoPacket);
  EXPECT_EQ(table.chunkCount, 3u);
}

TEST_F(ExchangeTest, CommandsSendTheirTextsAndWaitTheirLimits) {
  struct Case {
    std::function<int()> run;
    std::string text;
    uint32_t timeoutMs;
  };
  const std::vector<Case> cases = {
      {[] { return PacketSetAddress(4294967295u); }, "address 4294967295\r", 1000},
      {[] { return PacketMove(0x10000, 7); }, "move 65536 7\r", 10000},
      {[] { return PacketReboot(); }, "reboot\r", 1000},
      {[] { return PacketBurn(1, nullptr); }, "burn\r", 2000},
      {[] {
         uint32_t v = 0;
         return PacketReadVersion(v);
       },
       "version\r", 1000},
      {[] {
         TargetChunkTable t{};
         return PacketReadChunkTable(t);
       },
       "chunk\r", 5000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    Script({});
    const size_t before = box_.Commands().size();
    const uint32_t start = clock_->NowMs();
    EXPECT_EQ(c.run(), err::kNoPacket);
    const uint32_t spent = clock_->NowMs() - start;
    EXPECT_GE(spent, 5 * c.timeoutMs);
    EXPECT_LT(spent, 5 * c.timeoutMs + 50);
    const auto commands = box_.Commands();
    ASSERT_EQ(commands.size() - before, 5u);
    EXPECT_EQ(commands.back(), c.text);
  }
}

}  // namespace
}  // namespace stb
