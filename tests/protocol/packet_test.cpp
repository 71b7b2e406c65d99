#include "protocol/packet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "context/error_table.h"
#include "scripted_packet_box.h"

namespace stb {
namespace {

using test::Bytes;
using test::Hex;
using test::Join;

const Bytes kVersionCommand =
    Hex("48 45 41 44 00 00 00 00 00 01 00 00 00 00 08 F5 52 FE E9"
        " 76 65 72 73 69 6F 6E 0D D0 A9 6B C1");
const Bytes kAckReply =
    Hex("48 45 41 44 03 00 00 00 00 01 00 00 00 00 05 CA AB ED BF 00 00 00 00 00 47 10 BB 9C");

class PacketTest : public test::PacketBoxTest {
 protected:
  size_t Waiting() { return static_cast<size_t>(port_->BytesAvailable()); }
};

// The box's own framing must agree with the line before it can judge the tool's.
TEST(ScriptedPacketBoxFraming, ReproducesTheReferenceBytes) {
  EXPECT_EQ(test::Frame(0, 1, Bytes{'v', 'e', 'r', 's', 'i', 'o', 'n', '\r'}), kVersionCommand);
  EXPECT_EQ(test::StatusFrame(1, LoaderStatus::Ack, 0), kAckReply);
  EXPECT_EQ(test::BoxCrc32(Bytes{}), 0xFFFFFFFFu);
}

TEST_F(PacketTest, FirstVersionCommandIsTheReferenceBytesInThreeWrites) {
  ASSERT_EQ(SendCommandPacket("version\r", false), 0);
  EXPECT_EQ(port_->Written(), kVersionCommand);
  EXPECT_EQ(port_->WriteCalls(), (std::vector<int32_t>{19, 8, 4}));
}

TEST_F(PacketTest, ReferenceAckIsAccepted) {
  port_->Deliver(kAckReply);
  LoaderPacket packet;
  std::memset(&packet, 0xAA, sizeof packet);
  ASSERT_EQ(ReceivePacket(packet, 1000), 0);
  EXPECT_EQ(packet.type, 3);
  EXPECT_EQ(packet.blank, 0);
  EXPECT_EQ(packet.sequence, 1u);
  EXPECT_EQ(packet.retry, 0);
  EXPECT_EQ(packet.length, 5u);
  EXPECT_EQ(Bytes(packet.payload, packet.payload + 5), Bytes(5, 0));
  // Cleared before it was filled: nothing of the old contents survives.
  EXPECT_EQ(packet.payload[9], 0);
  EXPECT_EQ(packet.payload[2047], 0);
}

TEST_F(PacketTest, CountersNumberExchangesAndTheirRepeats) {
  SendCommandPacket("a\r", false);
  SendCommandPacket("a\r", true);
  SendDataPacket(7, reinterpret_cast<const uint8_t*>("xy"), 2);
  SendCommandPacket("a\r", true);
  SendRequestPacket(3);
  SendStatusPacket(4, 0);
  SendCommandPacket("b\r", false);
  SendStatusPacket(0, 9);

  struct Expect {
    PacketType type;
    uint32_t sequence;
    uint8_t retry;
    Bytes payload;
  };
  const std::vector<Expect> expected = {
      {PacketType::Command, 1, 0, {'a', '\r'}},
      {PacketType::Command, 1, 1, {'a', '\r'}},
      {PacketType::Data, 1, 1, Hex("00 00 00 07 78 79")},
      {PacketType::Command, 1, 2, {'a', '\r'}},
      {PacketType::Request, 1, 2, Hex("00 00 00 03")},
      {PacketType::Status, 1, 2, Hex("04 00 00 00 00")},
      {PacketType::Command, 2, 0, {'b', '\r'}},
      {PacketType::Status, 2, 0, Hex("00 00 00 00 09")},
  };
  const auto& got = box_.Received();
  ASSERT_EQ(got.size(), expected.size());
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(got[i].Is(expected[i].type));
    EXPECT_EQ(got[i].blank, 0);
    EXPECT_EQ(got[i].sequence, expected[i].sequence);
    EXPECT_EQ(got[i].retry, expected[i].retry);
    EXPECT_EQ(got[i].length, expected[i].payload.size());
    EXPECT_EQ(got[i].payload, expected[i].payload);
  }
  EXPECT_EQ(box_.StrayBytes(), 0u);
  EXPECT_EQ(PacketSequence(), 2u);
  EXPECT_EQ(PacketRetry(), 0);
}

TEST_F(PacketTest, RetryCounterWrapsAt256) {
  SendCommandPacket("x\r", false);
  for (int i = 0; i < 256; ++i) SendCommandPacket("x\r", true);
  EXPECT_EQ(PacketRetry(), 0);
  EXPECT_EQ(PacketSequence(), 1u);
  EXPECT_EQ(box_.Received().back().retry, 0);
}

TEST_F(PacketTest, EmptyPayloadCarriesCrcAllOnes) {
  LoaderPacket packet;
  std::memset(&packet, 0, sizeof packet);
  packet.type = 3;
  ASSERT_EQ(SendPacket(packet), 0);
  const Bytes& w = port_->Written();
  ASSERT_EQ(w.size(), 23u);
  EXPECT_EQ(Bytes(w.end() - 4, w.end()), Hex("FF FF FF FF"));

  port_->Deliver(test::Frame(3, 1, {}));
  ASSERT_EQ(ReceivePacket(packet, 100), 0);
  EXPECT_EQ(packet.length, 0u);
}

TEST_F(PacketTest, BytesBeforeTheMagicAreDropped) {
  // Each prefix ends in a broken match; the "HEAD" behind it must still be found.
  const std::vector<std::string> prefixes = {"noise\x01\xFF", "H", "HE", "HEA", "HEAHE", "DAEH"};
  for (const std::string& prefix : prefixes) {
    SCOPED_TRACE(prefix);
    port_->Deliver(Join(
        {Bytes(prefix.begin(), prefix.end()), test::StatusFrame(5, LoaderStatus::Done, 0x1234)}));
    LoaderPacket packet;
    ASSERT_EQ(ReceivePacket(packet, 1000), 0);
    EXPECT_EQ(packet.sequence, 5u);
    EXPECT_EQ(packet.payload[0], 3);
    EXPECT_EQ(packet.payload[4], 0x34);
    EXPECT_EQ(Waiting(), 0u);
  }
  EXPECT_TRUE(Logs().empty());
}

TEST_F(PacketTest, GarbageBetweenPacketsIsSkipped) {
  port_->Deliver(Join(
      {test::DataFrame(1, 1, {0xAB}), Hex("00 48 48 45 41 11 22"), test::DataFrame(1, 2, {0xCD})}));
  LoaderPacket packet;
  ASSERT_EQ(ReceivePacket(packet, 100), 0);
  EXPECT_EQ(packet.payload[4], 0xAB);
  ASSERT_EQ(ReceivePacket(packet, 100), 0);
  EXPECT_EQ(packet.payload[3], 2);
  EXPECT_EQ(packet.payload[4], 0xCD);
}

TEST_F(PacketTest, SilentLineTimesOutWithoutLogLine) {
  LoaderPacket packet;
  const uint32_t start = clock_->NowMs();
  EXPECT_EQ(ReceivePacket(packet, 1500), err::kNoPacket);
  const uint32_t spent = clock_->NowMs() - start;
  EXPECT_GE(spent, 1500u);
  EXPECT_LE(spent, 1510u);
  EXPECT_TRUE(Logs().empty());
}

TEST_F(PacketTest, PacketArrivingWithinTheLimitIsTaken) {
  port_->Deliver(kAckReply, 990);
  LoaderPacket packet;
  EXPECT_EQ(ReceivePacket(packet, 1000), 0);
  port_->Deliver(kAckReply, 1200);
  EXPECT_EQ(ReceivePacket(packet, 1000), err::kNoPacket);
}

TEST_F(PacketTest, HeaderCrcFailureLeavesThePayloadUnread) {
  Bytes frame = test::DataFrame(1, 1, Bytes(100, 0x55));
  frame[18] ^= 0x01;
  port_->Deliver(frame);
  LoaderPacket packet;
  EXPECT_EQ(ReceivePacket(packet, 1000), err::kHeadCrc);
  EXPECT_EQ(Waiting(), 108u);
  EXPECT_EQ(Logs(), std::vector<std::string>{"\r\n->Error:Check packet head CRC error!"});
}

TEST_F(PacketTest, FramingFailuresReturnTheirCodesAndLogLines) {
  const Bytes good = test::DataFrame(1, 1, Bytes(10, 0x11));
  Bytes badPayloadCrc = good;
  badPayloadCrc.back() ^= 0x80;
  Bytes badPayloadByte = good;
  badPayloadByte[25] ^= 0x01;
  struct Case {
    const char* name;
    Bytes bytes;
    int code;
    const char* log;
  };
  const Case cases[] = {
      {"header cut", Bytes(good.begin(), good.begin() + 12), err::kReceiveHead,
       "\r\n->Error:Receive packet head error!"},
      {"payload cut", Bytes(good.begin(), good.end() - 1), err::kReceiveData,
       "\r\n->Error:Receive packet data error!"},
      {"payload CRC", badPayloadCrc, err::kDataCrc, "\r\n->Error:Check packet data CRC error!"},
      {"payload byte", badPayloadByte, err::kDataCrc, "\r\n->Error:Check packet data CRC error!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    window_->Clear();
    port_->PurgeInput();
    port_->Deliver(c.bytes);
    LoaderPacket packet;
    EXPECT_EQ(ReceivePacket(packet, 1000), c.code);
    EXPECT_EQ(Logs(), std::vector<std::string>{c.log});
  }
}

TEST_F(PacketTest, BlankDataPacketIsFilledWithErasedBytes) {
  const Bytes frame = test::BlankFrame(1, 9, 1024);
  ASSERT_EQ(frame.size(), 19u + 8u);
  EXPECT_EQ(Bytes(frame.end() - 4, frame.end()), test::Be32(test::BoxCrc32(test::Be32(9))));
  port_->Deliver(Join({frame, test::StatusFrame(1, LoaderStatus::Ack, 0)}));
  LoaderPacket packet;
  ASSERT_EQ(ReceivePacket(packet, 1000), 0);
  EXPECT_EQ(packet.length, 1028u);
  EXPECT_EQ(Bytes(packet.payload, packet.payload + 4), Hex("00 00 00 09"));
  EXPECT_EQ(Bytes(packet.payload + 4, packet.payload + 1028), Bytes(1024, 0xFF));
  EXPECT_EQ(packet.payload[1028], 0);
  // It took exactly its 27 bytes: the next packet is intact.
  ASSERT_EQ(ReceivePacket(packet, 1000), 0);
  EXPECT_EQ(packet.type, 3);
}

TEST_F(PacketTest, BlankFlagOnOtherTypesChangesNothing) {
  port_->Deliver(test::Frame(3, 1, Hex("00 00 00 00 07"), 1));
  LoaderPacket packet;
  ASSERT_EQ(ReceivePacket(packet, 1000), 0);
  EXPECT_EQ(packet.length, 5u);
  EXPECT_EQ(packet.payload[4], 7);
  EXPECT_EQ(packet.payload[9], 0);  // behind the payload and its CRC
}

TEST_F(PacketTest, LargestPayloadFitsTheArea) {
  Bytes data(2040);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
  port_->Deliver(test::DataFrame(1, 1, data));
  LoaderPacket packet;
  ASSERT_EQ(ReceivePacket(packet, 5000), 0);
  EXPECT_EQ(packet.length, 2044u);
  EXPECT_EQ(Bytes(packet.payload + 4, packet.payload + 2044), data);

  port_->Deliver(test::BlankFrame(1, 2, 2040));
  ASSERT_EQ(ReceivePacket(packet, 5000), 0);
  EXPECT_EQ(packet.payload[2043], 0xFF);
}

TEST_F(PacketTest, OversizedAnnouncementIsRefusedUnread) {
  struct Case {
    const char* name;
    uint8_t blank;
    uint32_t length;
  };
  const Case cases[] = {{"plain 2045", 0, 2045},
                        {"blank 2045", 1, 2045},
                        {"plain huge", 0, 0xFFFFFFFFu},
                        {"blank huge", 1, 0x7FFFFFFFu}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    window_->Clear();
    port_->PurgeInput();
    // The line then carries 2100 bytes of what it claims to be payload.
    port_->Deliver(test::Frame(1, 1, Bytes(2100, 0x42), c.blank, c.length));
    LoaderPacket packet;
    EXPECT_EQ(ReceivePacket(packet, 1000), err::kReceiveData);
    EXPECT_EQ(Waiting(), 2104u);
    EXPECT_EQ(Logs(), std::vector<std::string>{"\r\n->Error:Receive packet data error!"});
  }
}

TEST_F(PacketTest, TornWritesReturnTheirCodes) {
  struct Case {
    int64_t budget;
    int code;
    const char* log;
  };
  const Case cases[] = {
      {0, err::kSendPacketHead, "\r\n->Error:Send Packet Header Error!"},
      {18, err::kSendPacketHead, "\r\n->Error:Send Packet Header Error!"},
      {19 + 7, err::kSendPacketData, "\r\n->Error:Send Packet Data Error!"},
      {19 + 8 + 3, err::kSendPacketCrc, "\r\n->Error:Send Packet Data CRC Error!"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.budget);
    window_->Clear();
    box_.DropPending();
    port_->writeBudget = c.budget;
    EXPECT_EQ(SendCommandPacket("version\r", false), c.code);
    EXPECT_EQ(Logs(), std::vector<std::string>{c.log});
  }
}

TEST_F(PacketTest, PacketsThatDoNotFitAreNotSent) {
  const Bytes data(2045, 1);
  EXPECT_EQ(SendDataPacket(1, data.data(), 2045), err::kSendPacketData);
  const std::string text(2049, 'x');
  EXPECT_EQ(SendCommandPacket(text.c_str(), false), err::kSendPacketData);
  EXPECT_TRUE(port_->Written().empty());
  EXPECT_EQ(PacketSequence(), 0u);
  EXPECT_EQ(SendDataPacket(1, data.data(), 2044), 0);
  EXPECT_EQ(box_.Received().back().length, 2048u);
}

}  // namespace
}  // namespace stb
