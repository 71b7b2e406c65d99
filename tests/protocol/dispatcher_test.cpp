// The seven loader operations choose the command set by the protocol version at the
// moment of the call.
#include "protocol/dispatcher.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <string>

#include "image/crc32.h"
#include "link/link.h"
#include "memory_port.h"
#include "protocol/bulk_transfer.h"
#include "protocol/packet.h"
#include "scripted_legacy_box.h"
#include "virtual_clock.h"

namespace stb::test {
namespace {

struct Operation {
  const char* name;
  std::function<int()> run;
  std::string legacyLine;  // what the legacy set types
  std::string packetText;  // what the protocol 3.0 set sends in its first command packet
};

std::vector<Operation> AllOperations() {
  static uint8_t data[16] = {};
  static uint8_t dump[kDumpBufferSize];
  static int32_t total = 0;
  static uint32_t version = 0;
  static TargetChunkTable table{};
  return {
      {"read info", [] { return LoaderReadInfo(version, table); }, "version -r\r", "version\r"},
      {"set address", [] { return LoaderSetAddress(5); }, "address 5\r", "address 5\r"},
      {"move", [] { return LoaderMove(1, 2); }, "move 1 2\r", "move 1 2\r"},
      {"download", [] { return LoaderDownload(data, 16, nullptr, nullptr); }, "transferraw 16\r",
       "transfer"},
      {"burn", [] { return LoaderBurn(16, nullptr); }, "burn\r", "burn\r"},
      {"dump", [] { return LoaderDump(dump, total, nullptr, nullptr, 0, 4096); }, "dump 0 4096\r",
       "dump 0 4096\r"},
      {"reboot", [] { return LoaderReboot(); }, "reboot\r", "reboot\r"},
  };
}

bool Contains(const Bytes& haystack, const std::string& needle) {
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end()) !=
         haystack.end();
}

class DispatcherTest : public ::testing::Test {
 protected:
  DispatcherTest() : port_(*clock_) {
    SetProtocolVersion(0);
    ResetPacketCounters();
  }
  ~DispatcherTest() override { SetProtocolVersion(0); }

  ScopedVirtualClock clock_;
  ScopedMemoryPort port_;
};

TEST_F(DispatcherTest, BelowPacketProtocolEveryOperationTypesItsLegacyLine) {
  for (uint32_t version : {32u, 47u}) {
    for (const Operation& op : AllOperations()) {
      SCOPED_TRACE(std::to_string(version) + " " + op.name);
      SetProtocolVersion(version);
      port_->ClearWritten();
      ScriptedLegacyBox box(*port_, *clock_);
      box.onCommand = [&](const std::string&) { box.Send(Bytes{'E'}); };

      op.run();
      ASSERT_EQ(box.Lines().size(), 1u);
      EXPECT_EQ(box.Lines()[0], op.legacyLine);
      EXPECT_FALSE(Contains(port_->Written(), "HEAD"));
      port_->OnWrite(nullptr);
    }
  }
}

TEST_F(DispatcherTest, BeforeAnyConnectRebootIsTheLegacyLine) {
  ScriptedLegacyBox box(*port_, *clock_);
  EXPECT_EQ(LoaderReboot(), 0);
  EXPECT_EQ(box.Lines(), (std::vector<std::string>{"reboot\r"}));
  EXPECT_EQ(std::string(port_->Written().begin(), port_->Written().end()), "reboot\r");
}

TEST_F(DispatcherTest, LegacyResultsComeBackUnchanged) {
  SetProtocolVersion(47);
  ScriptedLegacyBox box(*port_, *clock_);
  box.onCommand = [&](const std::string&) { box.Send(Bytes{'E'}); };
  EXPECT_EQ(LoaderSetAddress(5), 10);
  box.onCommand = [&](const std::string&) { box.Send(Bytes{'O'}); };
  EXPECT_EQ(LoaderMove(1, 2), 0);
  box.echoes = false;
  EXPECT_EQ(LoaderReboot(), 5);
}

TEST_F(DispatcherTest, FromPacketProtocolEveryOperationSendsACommandPacket) {
  for (uint32_t version : {48u, 0x50u}) {
    for (const Operation& op : AllOperations()) {
      SCOPED_TRACE(std::to_string(version) + " " + op.name);
      SetProtocolVersion(version);
      port_->ClearWritten();

      op.run();  // the line stays silent: every command fails after its attempts
      const Bytes& written = port_->Written();
      ASSERT_GE(written.size(), 19u);
      EXPECT_EQ(std::string(written.begin(), written.begin() + 4), "HEAD");
      EXPECT_EQ(written[4], static_cast<uint8_t>(PacketType::Command));
      EXPECT_TRUE(Contains(written, op.packetText));
    }
  }
}

// A protocol 3.0 box answering command packets by their text.
class PacketBox {
 public:
  struct Reply {
    PacketType type;
    Bytes payload;
  };
  PacketBox(MemoryPort& port) : port_(port) {
    port_.OnWrite([this](const uint8_t* data, int32_t length) {
      pending_.insert(pending_.end(), data, data + length);
      TakePackets();
    });
  }
  std::map<std::string, Reply> replies;
  std::vector<std::string> commands;

 private:
  void TakePackets() {
    while (pending_.size() >= 19) {
      const uint32_t length =
          (pending_[11] << 24) | (pending_[12] << 16) | (pending_[13] << 8) | pending_[14];
      if (pending_.size() < 19 + length + 4) return;
      const uint32_t sequence =
          (pending_[6] << 24) | (pending_[7] << 16) | (pending_[8] << 8) | pending_[9];
      const std::string text(pending_.begin() + 19, pending_.begin() + 19 + length);
      pending_.erase(pending_.begin(), pending_.begin() + 19 + length + 4);
      commands.push_back(text);
      if (auto it = replies.find(text); it != replies.end()) Answer(sequence, it->second);
    }
  }
  void Answer(uint32_t sequence, const Reply& reply) {
    const auto length = static_cast<uint32_t>(reply.payload.size());
    Bytes fields = Bytes{static_cast<uint8_t>(reply.type), 0} + BigEndian32(sequence) + Bytes{0} +
                   BigEndian32(length);
    port_.Deliver(ToBytes("HEAD") + fields + CrcBytes(fields) + reply.payload +
                  CrcBytes(reply.payload));
  }

  MemoryPort& port_;
  Bytes pending_;
};

TEST_F(DispatcherTest, ReadInfoFromPacketProtocolAsksForTheTableOnlyAfterTheVersion) {
  SetProtocolVersion(48);
  PacketBox box(*port_);
  Bytes table(2 + 128, 0);
  table[0] = 5;
  table[2 + 3] = 0x42;  // id of the one chunk
  box.replies["version\r"] = {PacketType::Data, BigEndian32(0) + BigEndian32(0x31)};
  box.replies["chunk\r"] = {PacketType::Data, BigEndian32(0) + table};

  uint32_t version = 0;
  TargetChunkTable chunks{};
  ASSERT_EQ(LoaderReadInfo(version, chunks), 0);
  EXPECT_EQ(box.commands, (std::vector<std::string>{"version\r", "chunk\r"}));
  EXPECT_EQ(version, 0x31u);
  EXPECT_EQ(chunks.chunkCount, 1u);
  EXPECT_EQ(chunks.chunks[0].id, 0x42u);
}

TEST_F(DispatcherTest, ReadInfoFromPacketProtocolStopsWhenTheVersionCommandFails) {
  SetProtocolVersion(48);
  PacketBox box(*port_);
  box.replies["version\r"] = {
      PacketType::Status, Bytes{static_cast<uint8_t>(LoaderStatus::Error)} + BigEndian32(0x10003)};
  box.replies["chunk\r"] = {PacketType::Data, BigEndian32(0) + Bytes(130, 0)};

  uint32_t version = 77;
  TargetChunkTable chunks;
  std::memset(&chunks, 0xAB, sizeof chunks);
  const TargetChunkTable before = chunks;
  EXPECT_EQ(LoaderReadInfo(version, chunks), 0x10003);
  EXPECT_EQ(box.commands, (std::vector<std::string>{"version\r"}));
  EXPECT_EQ(version, 77u);
  EXPECT_EQ(std::memcmp(&before, &chunks, sizeof chunks), 0);
}

}  // namespace
}  // namespace stb::test
