// "dump %u %u\r" from protocol 32 on: indexed blocks on request, header CRCs from 33.
#include <optional>

#include "image/crc32.h"
#include "legacy_block_box.h"
#include "legacy_dump_buffer.h"
#include "legacy_fixture.h"
#include "protocol/legacy.h"

namespace stb::test {
namespace {

class LegacyDumpBlocksTest : public LegacyTest {
 protected:
  void UseVersion(uint32_t version) {
    SetProtocolVersion(version);
    blocks_.emplace(box_, version >= 33);
  }
  int Dump(uint32_t rangeOffset = 0, uint32_t rangeLength = 0, CancelQuery cancel = nullptr) {
    return LegacyDump(buffer_.data(), total_, RecordProgress, cancel, rangeOffset, rangeLength);
  }
  std::vector<std::string>& Log() { return blocks_->log; }

  std::optional<BlockBox> blocks_;
  GuardedDumpBuffer buffer_;
  int32_t total_ = -7;
};

TEST_F(LegacyDumpBlocksTest, AtVersion32BlocksComeWithoutHeaderCrcs) {
  UseVersion(32);
  const Bytes first = Pattern(1024, 1), second = Pattern(500, 9);
  blocks_->AnnounceTotal(1524);
  blocks_->frames = {DataFrame(0, first), DataFrame(1, second)};

  ASSERT_EQ(Dump(0x1000, 0x2000), 0);
  EXPECT_EQ(box_.Lines().back(), "dump 4096 8192\r");
  EXPECT_EQ(total_, 1524);  // below 33 the box's total counts, not the range length
  EXPECT_EQ(Log(), (std::vector<std::string>{"H", "O0", "H", "O1"}));
  EXPECT_EQ(buffer_.Slice(0, 1024), first);
  EXPECT_EQ(buffer_.Slice(1024, 500), second);
  EXPECT_EQ(buffer_[1524], GuardedDumpBuffer::kUntouched);
  EXPECT_EQ(Progress(), (std::vector<int>{67, 100}));
}

TEST_F(LegacyDumpBlocksTest, BlockAnswerIsTheLetterTheIndexAndTheirCrc) {
  UseVersion(33);
  blocks_->AnnounceTotal(0x305 * 1024);
  Frame bad = DataFrame(0x01020304 & 0x7FF, Pattern(1024, 2));
  bad.body.back() ^= 1;
  blocks_->frames = {bad, DataFrame(0x304, Pattern(1024, 2))};
  for (uint32_t i = 0; i < 0x304; ++i) blocks_->frames.push_back(BlankFrame(i, 1024));

  ASSERT_EQ(Dump(), 0);
  const Bytes rejected = Bytes{'E'} + BigEndian32(0x304);
  const Bytes taken = Bytes{'O'} + BigEndian32(0x304);
  ASSERT_GE(blocks_->answers.size(), 2u);
  EXPECT_EQ(blocks_->answers[0], rejected + CrcBytes(rejected));
  EXPECT_EQ(blocks_->answers[1], taken + CrcBytes(taken));
}

TEST_F(LegacyDumpBlocksTest, AtVersion33GoodHeaderCrcsAreConfirmedWithG) {
  UseVersion(33);
  blocks_->AnnounceTotal(2048);
  blocks_->frames = {DataFrame(0, Pattern(1024, 1)), DataFrame(1, Pattern(1024, 5))};
  ASSERT_EQ(Dump(), 0);
  EXPECT_EQ(Log(), (std::vector<std::string>{"H", "G", "O0", "H", "G", "O1"}));
}

TEST_F(LegacyDumpBlocksTest, WrongHeaderCrcMakesTheToolSendHTwice) {
  struct Case {
    const char* name;
    void (*spoil)(Frame&);
  };
  const Case cases[] = {
      {"index CRC", [](Frame& f) { f.indexCrc[0] ^= 1; }},
      {"length CRC", [](Frame& f) { f.lengthCrc[3] ^= 1; }},
      // The numbers travel big-endian, their CRCs are over the little-endian bytes.
      {"CRC over big-endian bytes", [](Frame& f) { f.indexCrc = CrcBytes(BigEndian32(f.index)); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UseVersion(0x2F);
    Frame spoilt = DataFrame(3, Pattern(1024, 4));
    c.spoil(spoilt);
    blocks_->AnnounceTotal(4 * 1024);
    blocks_->frames = {spoilt, DataFrame(3, Pattern(1024, 4)), BlankFrame(0, 1024),
                       BlankFrame(1, 1024), BlankFrame(2, 1024)};

    ASSERT_EQ(Dump(), 0);
    EXPECT_EQ(std::vector<std::string>(Log().begin(), Log().begin() + 5),
              (std::vector<std::string>{"H", "H", "H", "G", "O3"}));
    EXPECT_EQ(buffer_.Slice(3 * 1024, 1024), Pattern(1024, 4));
  }
}

TEST_F(LegacyDumpBlocksTest, BlankBlockIsFilledWithErasedFlash) {
  UseVersion(33);
  blocks_->AnnounceTotal(2 * 1024);
  blocks_->frames = {BlankFrame(1, 1024), DataFrame(0, Pattern(1024, 1))};

  ASSERT_EQ(Dump(), 0);
  EXPECT_EQ(buffer_.Slice(1024, 1024), Bytes(1024, 0xFF));
  EXPECT_EQ(buffer_[1024 - 1], Pattern(1024, 1).back());
  EXPECT_EQ(buffer_[2 * 1024], GuardedDumpBuffer::kUntouched);
  const Bytes taken = Bytes{'O', 0, 0, 0, 1};
  ASSERT_EQ(blocks_->answers.size(), 2u);
  EXPECT_EQ(blocks_->answers[0], taken + CrcBytes(taken));
}

TEST_F(LegacyDumpBlocksTest, BlankMarkerWithAWrongCrcIsRejected) {
  UseVersion(32);
  Frame spoilt = BlankFrame(0, 1024);
  spoilt.body.back() = 0x71;
  blocks_->AnnounceTotal(1024);
  blocks_->frames = {spoilt, BlankFrame(0, 1024)};
  ASSERT_EQ(Dump(), 0);
  EXPECT_EQ(Log(), (std::vector<std::string>{"H", "E0", "H", "O0"}));
}

TEST_F(LegacyDumpBlocksTest, RangeLengthIsTheTotalFromVersion33On) {
  struct Case {
    uint32_t version;
    uint32_t rangeLength;
    std::optional<uint32_t> announced;
    int32_t total;
  };
  const Case cases[] = {
      {33, 1024, std::nullopt, 1024},  // nothing is read: the box announces nothing
      {47, 1024, std::nullopt, 1024},
      {33, 0, 1024, 1024},  // no range length: the box tells
      {32, 512, 1024, 1024},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.version * 100000 + c.rangeLength);
    UseVersion(c.version);
    blocks_->AnnounceTotal(c.announced);
    blocks_->frames = {DataFrame(0, Pattern(1024, 8))};
    ASSERT_EQ(Dump(0x8000, c.rangeLength), 0);
    EXPECT_EQ(total_, c.total);
    EXPECT_EQ(buffer_.Slice(0, 1024), Pattern(1024, 8));
  }
}

TEST_F(LegacyDumpBlocksTest, BlocksLandAtTheirIndexInAnyOrder) {
  UseVersion(33);
  blocks_->AnnounceTotal(3 * 1024);
  blocks_->frames = {DataFrame(2, Pattern(1024, 30)), DataFrame(0, Pattern(1024, 10)),
                     DataFrame(1, Pattern(1024, 20))};
  ASSERT_EQ(Dump(), 0);
  EXPECT_EQ(buffer_.Slice(0, 3072), Pattern(1024, 10) + Pattern(1024, 20) + Pattern(1024, 30));
}

TEST_F(LegacyDumpBlocksTest, MissingOrSpoiltBodiesAreRejectedAndAskedForAgain) {
  struct Case {
    const char* name;
    size_t keep;  // bytes of the body the box sends
    bool spoil;
  };
  const Case cases[] = {
      {"no body", 0, false},
      {"only the first twelve bytes", 12, false},
      {"no body CRC", 1024, false},
      {"wrong body CRC", 1028, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UseVersion(32);
    Frame broken = DataFrame(0, Pattern(1024, 6));
    broken.body.resize(c.keep);
    if (c.spoil) broken.body[100] ^= 0xFF;
    blocks_->AnnounceTotal(1024);
    blocks_->frames = {broken, DataFrame(0, Pattern(1024, 6))};
    ASSERT_EQ(Dump(), 0);
    EXPECT_EQ(Log(), (std::vector<std::string>{"H", "E0", "H", "O0"}));
    EXPECT_EQ(buffer_.Slice(0, 1024), Pattern(1024, 6));
  }
}

TEST_F(LegacyDumpBlocksTest, BlockTakenTwiceCountsOnce) {
  // The box missed the tool's 'O' for block 0 and sends it again: the dump still
  // waits for block 1 rather than ending with it missing.
  UseVersion(33);
  blocks_->AnnounceTotal(2048);
  blocks_->frames = {DataFrame(0, Pattern(1024, 1)), DataFrame(0, Pattern(1024, 1)),
                     DataFrame(1, Pattern(1024, 2))};
  ASSERT_EQ(Dump(), 0);
  EXPECT_EQ(blocks_->answers.size(), 3u);
  EXPECT_EQ(buffer_.Slice(1024, 1024), Pattern(1024, 2));
  EXPECT_EQ(Progress(), (std::vector<int>{50, 50, 100}));
}

TEST_F(LegacyDumpBlocksTest, LastBlocksOfTheBufferFitExactly) {
  UseVersion(33);
  blocks_->AnnounceTotal(2047 * 1024 + 11);
  blocks_->frames = {DataFrame(2046, Pattern(1024, 3)), BlankFrame(2047, 11)};
  for (uint32_t i = 0; i < 2046; ++i) blocks_->frames.push_back(BlankFrame(i, 1024));
  ASSERT_EQ(Dump(), 0);
  EXPECT_EQ(buffer_.Slice(2046 * 1024, 1024), Pattern(1024, 3));
  // A blank block shorter than its marker is fine: it carries no data.
  EXPECT_EQ(buffer_.Slice(2047 * 1024, 12), Bytes(11, 0xFF) + Bytes{GuardedDumpBuffer::kUntouched});
  EXPECT_TRUE(buffer_.GuardIntact());
}

TEST_F(LegacyDumpBlocksTest, TotalsThatDoNotFitAreRefused) {
  struct Case {
    const char* name;
    uint32_t version;
    uint32_t rangeLength;
    std::optional<uint32_t> announced;
    Frame frame;
  };
  const Case cases[] = {
      {"announced total above the buffer", 32, 0, kDumpBufferSize + 1, BlankFrame(0, 1024)},
      {"range length above the buffer", 33, kDumpBufferSize + 1, std::nullopt, BlankFrame(0, 1024)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UseVersion(c.version);
    blocks_->AnnounceTotal(c.announced);
    blocks_->frames = {c.frame};
    EXPECT_EQ(Dump(0, c.rangeLength), kLegacyDumpRefused);
    EXPECT_TRUE(blocks_->answers.empty());
    EXPECT_TRUE(buffer_.Untouched());
  }
}

TEST_F(LegacyDumpBlocksTest, TotalsOfZeroAndBelow) {
  UseVersion(32);
  blocks_->AnnounceTotal(0);
  EXPECT_EQ(Dump(), 0);
  EXPECT_TRUE(Log().empty());
  blocks_->AnnounceTotal(0xFFFFFFF0);
  EXPECT_EQ(Dump(), 14);
  EXPECT_TRUE(Log().empty());
}

TEST_F(LegacyDumpBlocksTest, FailuresEndTheDump) {
  struct Case {
    const char* name;
    uint32_t version;
    int64_t writeBudget;  // bytes the line takes after the command
    bool spoilHeader;
    int expected;
  };
  const Case cases[] = {
      {"request does not go out", 32, 0, false, 3},
      {"confirmation does not go out", 33, 1, false, 3},
      {"header refusal does not go out", 33, 1, true, 3},
      {"block answer does not go out", 33, 2 + 8, false, 3},
      {"block answer does not go out at 32", 32, 1, false, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UseVersion(c.version);
    Frame frame = DataFrame(0, Pattern(1024, 1));
    if (c.spoilHeader) frame.indexCrc[0] ^= 1;
    blocks_->frames = {frame};
    box_.onCommand = [&](const std::string&) {
      box_.Send(BigEndian32(1024));
      port_->writeBudget = c.writeBudget;
    };
    EXPECT_EQ(Dump(), c.expected);
    port_->writeBudget = -1;
  }
}

TEST_F(LegacyDumpBlocksTest, SilenceAfterARequestIsTimeoutAndCancelStopsBetweenBlocks) {
  UseVersion(33);
  blocks_->AnnounceTotal(2048);
  EXPECT_EQ(Dump(), 8);

  blocks_->frames = {DataFrame(0, Pattern(1024, 1)), DataFrame(1, Pattern(1024, 1))};
  CancelAtCall() = 1;
  EXPECT_EQ(Dump(0, 0, CancelQueryAt), 6);
  EXPECT_EQ(Log(), (std::vector<std::string>{"H", "H", "G", "O0"}));
}

}  // namespace
}  // namespace stb::test
