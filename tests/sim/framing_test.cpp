// The box's framing against the loader's own example bytes, so that a fault the box
// shared with the tool could not hide.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/crc32.h"
#include "sim/box_crc.h"
#include "sim/box_packet.h"

namespace stb::sim {
namespace {

const std::vector<uint8_t> kVersionCommand = {
    0x48, 0x45, 0x41, 0x44, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x00, 0x08, 0xF5,
    0x52, 0xFE, 0xE9, 0x76, 0x65, 0x72, 0x73, 0x69, 0x6F, 0x6E, 0x0D, 0xD0, 0xA9, 0x6B, 0xC1};
const std::vector<uint8_t> kAckReply = {0x48, 0x45, 0x41, 0x44, 0x03, 0x00, 0x00, 0x00, 0x00, 0x01,
                                        0x00, 0x00, 0x00, 0x00, 0x05, 0xCA, 0xAB, 0xED, 0xBF, 0x00,
                                        0x00, 0x00, 0x00, 0x00, 0x47, 0x10, 0xBB, 0x9C};

TEST(BoxCrc, MatchesTheLoaderCheckValuesAndTheToolsTable) {
  const std::string digits = "123456789";
  const auto* d = reinterpret_cast<const uint8_t*>(digits.data());
  EXPECT_EQ(BoxCrc(d, 9), 0x0376E6E7u);
  EXPECT_EQ(BoxCrc(d, 0), 0xFFFFFFFFu);
  EXPECT_EQ(BoxCrcUpdate(BoxCrc(d, 4), d + 4, 5), 0x0376E6E7u);
  const uint8_t blank[8] = {'B', 'L', 'A', 'N', 'K', 'P', 'C', 'K'};
  EXPECT_EQ(BoxCrc(blank, 8), 0x8FA51470u);
  // Both implementations agree on every table entry's worth of input.
  for (int b = 0; b < 256; ++b) {
    const uint8_t two[2] = {static_cast<uint8_t>(b), static_cast<uint8_t>(255 - b)};
    ASSERT_EQ(BoxCrc(two, 2), Crc32Update(kCrc32Start, two, 2)) << b;
  }
}

TEST(BoxFraming, TakesTheToolsFirstVersionCommand) {
  BoxPacket p;
  size_t used = 0;
  ASSERT_EQ(DecodeBoxPacket(kVersionCommand.data(), kVersionCommand.size(), p, used),
            FrameResult::Ok);
  EXPECT_EQ(used, 31u);
  EXPECT_EQ(p.type, uint8_t(BoxPacketType::Command));
  EXPECT_EQ(p.blank, 0);
  EXPECT_EQ(p.sequence, 1u);
  EXPECT_EQ(p.retry, 0);
  EXPECT_EQ(p.length, 8u);
  EXPECT_EQ(std::string(p.payload.begin(), p.payload.end()), "version\r");
  // Encoding it again gives the same bytes.
  EXPECT_EQ(EncodeBoxPacket(p), kVersionCommand);
}

TEST(BoxFraming, SendsTheAckOfTheExampleByteForByte) {
  EXPECT_EQ(EncodeBoxPacket(MakeStatusPacket(1, 0, BoxStatus::Ack, 0)), kAckReply);
}

TEST(BoxFraming, BlankDataPacketCarriesOnlyItsNumber) {
  const std::vector<uint8_t> ignored(1024, 0x12);
  const BoxPacket p = MakeDataPacket(7, 2, 5, ignored.data(), ignored.size(), true);
  const std::vector<uint8_t> wire = EncodeBoxPacket(p);
  ASSERT_EQ(wire.size(), 19u + 4 + 4);
  EXPECT_EQ(GetBe32(&wire[11]), 1028u);  // announces its full length
  EXPECT_EQ(wire[5], 1);
  EXPECT_EQ(GetBe32(&wire[23]), BoxCrc(&wire[19], 4));
  BoxPacket back;
  size_t used = 0;
  ASSERT_EQ(DecodeBoxPacket(wire.data(), wire.size(), back, used), FrameResult::Ok);
  ASSERT_EQ(back.payload.size(), 1028u);
  EXPECT_EQ(GetBe32(back.payload.data()), 5u);
  for (size_t i = 4; i < back.payload.size(); ++i) ASSERT_EQ(back.payload[i], 0xFF);
}

TEST(BoxFraming, EmptyPayloadHasTheStartValueAsItsCrc) {
  BoxPacket p;
  p.type = uint8_t(BoxPacketType::Command);
  const std::vector<uint8_t> wire = EncodeBoxPacket(p);
  ASSERT_EQ(wire.size(), 23u);
  EXPECT_EQ(GetBe32(&wire[19]), 0xFFFFFFFFu);
}

TEST(BoxFraming, RefusesBrokenPackets) {
  auto with = [](size_t at, uint8_t x) {
    std::vector<uint8_t> w = kVersionCommand;
    w[at] ^= x;
    return w;
  };
  // A header announcing more than the tool's 2044 payload bytes, with a sound CRC.
  BoxPacket big;
  big.length = 2045;
  std::vector<uint8_t> tooLong(19);
  EncodeBoxHeader(big, tooLong.data());
  struct Case {
    const char* what;
    std::vector<uint8_t> bytes;
    FrameResult expected;
  } cases[] = {
      {"header CRC", with(16, 0x01), FrameResult::BadHeaderCrc},
      {"sequence", with(9, 0x02), FrameResult::BadHeaderCrc},
      {"payload", with(20, 0x20), FrameResult::BadPayloadCrc},
      {"payload CRC", with(30, 0x80), FrameResult::BadPayloadCrc},
      {"magic", with(0, 0x01), FrameResult::BadMagic},
      {"cut", std::vector<uint8_t>(kVersionCommand.begin(), kVersionCommand.end() - 1),
       FrameResult::Short},
      {"length", tooLong, FrameResult::TooLong},
  };
  for (const Case& c : cases) {
    BoxPacket p;
    size_t used = 99;
    EXPECT_EQ(DecodeBoxPacket(c.bytes.data(), c.bytes.size(), p, used), c.expected) << c.what;
    EXPECT_EQ(used, 0u) << c.what;
  }
}

}  // namespace
}  // namespace stb::sim
