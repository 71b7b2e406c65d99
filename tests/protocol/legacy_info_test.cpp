// "version -r\r": the optional version marker, the table length, the table and its CRC.
#include <cstring>

#include "legacy_fixture.h"
#include "protocol/legacy.h"

namespace stb::test {
namespace {

// Chunk-table data of `length` bytes: flash type 5, info 0x11, entries with ids 1, 2, ...
Bytes TableData(size_t length) {
  Bytes data(length, 0);
  if (length > 0) data[0] = 5;
  if (length > 1) data[1] = 0x11;
  for (size_t i = 0; 2 + 128 * (i + 1) <= length; ++i) {
    const Bytes id = BigEndian32(static_cast<uint32_t>(i + 1));
    std::copy(id.begin(), id.end(), data.begin() + 2 + 128 * i);
  }
  return data;
}

class LegacyReadInfoTest : public LegacyTest {
 protected:
  LegacyReadInfoTest() { std::memset(&table_, 0xAB, sizeof table_); }

  void Answer(const Bytes& reply) {
    box_.onCommand = [this, reply](const std::string&) { box_.Send(reply); };
  }
  bool TableUntouched() const {
    TargetChunkTable sentinel;
    std::memset(&sentinel, 0xAB, sizeof sentinel);
    return std::memcmp(&sentinel, &table_, sizeof table_) == 0;
  }

  uint32_t version_ = 99;
  TargetChunkTable table_;
};

TEST_F(LegacyReadInfoTest, ReplyWithoutMarkerHasVersionZeroAndTakesTheFirstNumberAsLength) {
  const Bytes data = TableData(388);  // 01 84: three entries and two bytes left over
  Answer(BigEndian16(388) + data + CrcBytes(data));

  ASSERT_EQ(LegacyReadInfo(version_, table_), 0);
  EXPECT_EQ(version_, 0u);
  EXPECT_EQ(table_.chunkCount, 3u);
  EXPECT_EQ(table_.flashInfo, 0x11u);
  EXPECT_EQ(table_.chunks[2].id, 3u);
}

TEST_F(LegacyReadInfoTest, MarkerGivesTheVersionAndTheLengthFollows) {
  struct Case {
    uint16_t marker;
    uint32_t version;
  };
  for (const Case c : {Case{0xB730, 0x30}, Case{0xB721, 0x21}, Case{0xFFFF, 0x48FF}}) {
    SCOPED_TRACE(c.marker);
    const Bytes data = TableData(2 + 128);
    Answer(BigEndian16(c.marker) + BigEndian16(130) + data + CrcBytes(data));
    ASSERT_EQ(LegacyReadInfo(version_, table_), 0);
    EXPECT_EQ(version_, c.version);
    EXPECT_EQ(table_.chunkCount, 1u);
  }
}

TEST_F(LegacyReadInfoTest, TableCrcMismatchIsReadDataErrorAndChangesNothing) {
  const Bytes data = TableData(258);
  Bytes crc = CrcBytes(data);
  crc[3] ^= 1;
  Answer(BigEndian16(0xB720 + 0x1F) + BigEndian16(258) + data + crc);

  EXPECT_EQ(LegacyReadInfo(version_, table_), 23);
  EXPECT_EQ(version_, 99u);
  EXPECT_TRUE(TableUntouched());
}

TEST_F(LegacyReadInfoTest, TableLongerThanTheInfoBufferIsRefusedUnread) {
  // 0xB720 is just below the marker range: a length of 46880 bytes.
  for (uint16_t length : {uint16_t{2049}, uint16_t{0xB720}}) {
    SCOPED_TRACE(length);
    const Bytes data = TableData(length);
    Answer(BigEndian16(length) + data + CrcBytes(data));
    EXPECT_EQ(LegacyReadInfo(version_, table_), kLegacyInfoRefused);
    EXPECT_EQ(version_, 99u);
    EXPECT_TRUE(TableUntouched());
  }
}

TEST_F(LegacyReadInfoTest, TableFillingTheInfoBufferExactlyIsTaken) {
  const Bytes data = TableData(2048);
  Answer(BigEndian16(2048) + data + CrcBytes(data));
  ASSERT_EQ(LegacyReadInfo(version_, table_), 0);
  EXPECT_EQ(table_.chunkCount, 15u);
}

TEST_F(LegacyReadInfoTest, MissingPartsOfTheReplyTimeOut) {
  const Bytes data = TableData(130);
  const Bytes crc = CrcBytes(data);
  const Bytes replies[] = {
      {},                                                           // nothing at all
      BigEndian16(0xB730),                                          // marker, no length
      BigEndian16(130) + Bytes(data.begin(), data.end() - 1),       // table one byte short
      BigEndian16(130) + data + Bytes(crc.begin(), crc.end() - 1),  // CRC short
  };
  for (const Bytes& reply : replies) {
    SCOPED_TRACE(reply.size());
    Answer(reply);
    EXPECT_EQ(LegacyReadInfo(version_, table_), 8);
    EXPECT_EQ(version_, 99u);
    EXPECT_TRUE(TableUntouched());
  }
}

TEST_F(LegacyReadInfoTest, TableMayTakeFiveSecondsButTheCrcOnlyATenthOfOne) {
  const Bytes data = TableData(130);
  box_.onCommand = [&](const std::string&) {
    box_.Send(BigEndian16(130));
    box_.Send(data, 4900);
    box_.Send(CrcBytes(data), 4990);
  };
  EXPECT_EQ(LegacyReadInfo(version_, table_), 0);

  box_.onCommand = [&](const std::string&) {
    box_.Send(BigEndian16(130) + data);
    box_.Send(CrcBytes(data), 150);
  };
  EXPECT_EQ(LegacyReadInfo(version_, table_), 8);
}

}  // namespace
}  // namespace stb::test
