// The block dump succeeds only with every block of [0, total) in the buffer; blocks
// that cannot be one of them are answered 'E', and failures are bounded in time.
#include <optional>

#include "legacy_block_box.h"
#include "legacy_dump_buffer.h"
#include "legacy_fixture.h"
#include "protocol/legacy.h"

namespace stb::test {
namespace {

using Strings = std::vector<std::string>;

class LegacyDumpCoverageTest : public LegacyTest {
 protected:
  void UseVersion(uint32_t version) {
    SetProtocolVersion(version);
    blocks_.emplace(box_, version >= 33);
    buffer_.emplace();
    Progress().clear();
  }
  int Dump() { return LegacyDump(buffer_->data(), total_, RecordProgress, nullptr, 0, 0); }
  // The tool's block answers, "O<n>" or "E<n>", in order.
  Strings Answers() const {
    Strings out;
    for (const std::string& entry : blocks_->log)
      if (entry.size() > 1) out.push_back(entry);
    return out;
  }
  bool UntouchedFrom(size_t from) const {
    const Bytes rest = buffer_->Slice(from, kDumpBufferSize - from);
    return std::all_of(rest.begin(), rest.end(),
                       [](uint8_t b) { return b == GuardedDumpBuffer::kUntouched; });
  }

  std::optional<BlockBox> blocks_;
  std::optional<GuardedDumpBuffer> buffer_;
  int32_t total_ = -7;
};

const Bytes kFirst = Pattern(1024, 1), kSecond = Pattern(1024, 77), kThird = Pattern(1024, 150);

TEST_F(LegacyDumpCoverageTest, IndexOutsideTheTotalIsAnsweredEAndNotCounted) {
  // A flipped bit in an index used to count the block and end the dump one block early.
  struct Case {
    const char* name;
    uint32_t index;
  };
  const Case cases[] = {
      {"first index behind the total", 2},
      {"one bit flipped high", 1 | 0x10000},
      {"behind the buffer", 2048},
      {"far behind the buffer", 0xFFFFFFFF},
  };
  for (uint32_t version : {32u, 33u}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + " at " + std::to_string(version));
      UseVersion(version);
      blocks_->AnnounceTotal(2048);
      blocks_->frames = {DataFrame(c.index, kSecond), DataFrame(0, kFirst), DataFrame(1, kSecond)};
      ASSERT_EQ(Dump(), 0);
      EXPECT_EQ(Answers(), (Strings{"E" + std::to_string(c.index), "O0", "O1"}));
      EXPECT_EQ(buffer_->Slice(0, 2048), kFirst + kSecond);
      EXPECT_TRUE(UntouchedFrom(2048));
      EXPECT_EQ(Progress(), (std::vector<int>{50, 100}));
    }
  }
}

TEST_F(LegacyDumpCoverageTest, BlocksThatLeaveAGapNeverEndTheDump) {
  UseVersion(32);
  blocks_->AnnounceTotal(3 * 1024);
  // Three blocks arrive, but block 1 never does; then the box falls silent.
  blocks_->frames = {DataFrame(0, kFirst), DataFrame(2, kThird), DataFrame(0, kFirst)};
  EXPECT_EQ(Dump(), 8);
  EXPECT_EQ(Answers(), (Strings{"O0", "O2", "O0"}));
}

TEST_F(LegacyDumpCoverageTest, TwoDifferentCopiesOfOneIndexAreBothDistrusted) {
  // Without header CRCs a garbled index can still lie inside the total. The box sends
  // each block until it hears 'O' with that block's own index.
  struct Case {
    const char* name;
    std::vector<Frame> frames;
    int result;
    Strings answers;
  };
  const Case cases[] = {
      {"block 0 under index 1 first, then block 1 itself",
       {DataFrame(1, kFirst), DataFrame(0, kFirst), DataFrame(1, kSecond), DataFrame(1, kSecond),
        DataFrame(2, kThird)},
       0,
       {"O1", "O0", "E1", "O1", "O2"}},
      {"block 2 under index 1, which is held already",
       {DataFrame(0, kFirst), DataFrame(1, kSecond), DataFrame(1, kThird), DataFrame(2, kThird)},
       8,  // block 1 is missing once the box has sent its last block
       {"O0", "O1", "E1", "O2"}},
      {"the same block again (its 'O' was lost)",
       {DataFrame(0, kFirst), DataFrame(0, kFirst), DataFrame(1, kSecond), DataFrame(2, kThird)},
       0,
       {"O0", "O0", "O1", "O2"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UseVersion(32);
    blocks_->AnnounceTotal(3 * 1024);
    blocks_->frames.assign(c.frames.begin(), c.frames.end());
    EXPECT_EQ(Dump(), c.result);
    EXPECT_EQ(Answers(), c.answers);
    if (c.result == 0) {
      EXPECT_EQ(buffer_->Slice(0, 3072), kFirst + kSecond + kThird);
    }
  }
}

TEST_F(LegacyDumpCoverageTest, EachBlockMustCoverItsPartOfTheTotal) {
  struct Case {
    const char* name;
    uint32_t total;
    Frame wrong;  // answered 'E'
    Frame last;   // the block that ends the dump
  };
  const Bytes tail = Pattern(12, 40);
  const Case cases[] = {
      {"last block shorter than its part", 1500, DataFrame(1, Pattern(400, 5)),
       DataFrame(1, Pattern(476, 5))},
      {"blank block shorter than a whole block", 2048, BlankFrame(1, 1000), BlankFrame(1, 1024)},
      {"data block below its lead-in, although its part is smaller", 1030,
       DataFrame(1, Pattern(6, 40)), DataFrame(1, tail)},
      {"empty block", 2048, BlankFrame(1, 0), BlankFrame(1, 1024)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UseVersion(33);
    blocks_->AnnounceTotal(c.total);
    blocks_->frames = {DataFrame(0, kFirst), c.wrong, c.last};
    ASSERT_EQ(Dump(), 0);
    EXPECT_EQ(Answers(), (Strings{"O0", "E1", "O1"}));
    EXPECT_EQ(total_, static_cast<int32_t>(c.total));
  }

  // A last block longer than its part (the box pads a short tail to 12 bytes): only the
  // part inside the total lands in the buffer.
  UseVersion(32);
  blocks_->AnnounceTotal(1030);
  blocks_->frames = {DataFrame(0, kFirst), DataFrame(1, tail)};
  ASSERT_EQ(Dump(), 0);
  EXPECT_EQ(buffer_->Slice(1024, 6), Bytes(tail.begin(), tail.begin() + 6));
  EXPECT_TRUE(UntouchedFrom(1030));
}

TEST_F(LegacyDumpCoverageTest, ImpossibleHeaderIsDrainedAnsweredEAndTheBlockComesAgain) {
  // Without header CRCs one garbled length byte must not end the dump, nor leave the
  // rest of the block on the line to be read as the next header.
  struct Case {
    const char* name;
    uint32_t version;
    Frame frame;
    uint32_t tailDelayMs;  // the body's second half comes this much later
  };
  const Case cases[] = {
      {"length above a kibibyte", 32, Announcing(DataFrame(0, kFirst), 0, 1024 | 0x1000), 0},
      {"length above a kibibyte, body still arriving", 32,
       Announcing(DataFrame(0, kFirst), 0, 1024 | 0x8000), 150},
      {"data length below the lead-in", 32, Announcing(DataFrame(0, kFirst), 0, 0), 0},
      {"data length below the lead-in, body still arriving", 32,
       Announcing(DataFrame(0, kFirst), 0, 8), 150},
      {"blank length above a kibibyte", 32, BlankFrame(0, 1025), 0},
      {"length above a kibibyte with matching header CRCs", 33,
       Announcing(DataFrame(0, kFirst), 0, 1024 | 0x1000), 150},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UseVersion(c.version);
    blocks_->AnnounceTotal(2048);
    blocks_->bodyTailDelayMs = c.tailDelayMs;
    blocks_->frames = {c.frame, DataFrame(0, kFirst), DataFrame(1, kSecond)};
    ASSERT_EQ(Dump(), 0);
    EXPECT_EQ(Answers(), (Strings{"E0", "O0", "O1"}));
    EXPECT_EQ(buffer_->Slice(0, 2048), kFirst + kSecond);
  }
}

TEST_F(LegacyDumpCoverageTest, ThirtySecondsWithoutANewBlockEndWithTheLastFailure) {
  struct Case {
    const char* name;
    uint32_t version;
    Frame frame;  // sent again on every request
    int result;
  };
  Frame noBody = DataFrame(0, kFirst);
  noBody.body.clear();
  Frame badHeaderCrc = DataFrame(0, kFirst);
  badHeaderCrc.lengthCrc[0] ^= 1;
  Frame badBody = DataFrame(0, kFirst);
  badBody.body[5] ^= 0x10;
  const Case cases[] = {
      {"impossible length", 32, Announcing(DataFrame(0, kFirst), 0, 5000), 14},
      {"a body that never comes", 32, noBody, 8},
      {"a wrong body CRC", 32, badBody, 23},
      {"a wrong header CRC", 33, badHeaderCrc, 9},
      // The box never hears the 'O': no new block, however willing the tool is.
      {"the same block over and over", 33, DataFrame(0, kFirst), 8},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UseVersion(c.version);
    blocks_->AnnounceTotal(2048);
    blocks_->frames = {c.frame};
    blocks_->repeatLast = true;
    blocks_->headerDelayMs = 5;
    const uint32_t start = Now();
    EXPECT_EQ(Dump(), c.result);
    // Bounded on the virtual clock: thirty seconds and the cycle under way.
    EXPECT_GE(Now() - start, 30000u);
    EXPECT_LT(Now() - start, 35000u);
  }
}

TEST_F(LegacyDumpCoverageTest, EachNewBlockStartsTheThirtySecondsAfresh) {
  UseVersion(32);
  Frame noBody = DataFrame(0, kFirst);
  noBody.body.clear();
  blocks_->AnnounceTotal(2048);
  // About 25 seconds of failures before each block, 50 in all.
  for (int i = 0; i < 20; ++i) blocks_->frames.push_back(noBody);
  blocks_->frames.push_back(DataFrame(0, kFirst));
  for (int i = 0; i < 20; ++i) blocks_->frames.push_back(noBody);
  blocks_->frames.push_back(DataFrame(1, kSecond));
  const uint32_t start = Now();
  ASSERT_EQ(Dump(), 0);
  EXPECT_GT(Now() - start, 45000u);
  EXPECT_EQ(buffer_->Slice(0, 2048), kFirst + kSecond);
}

}  // namespace
}  // namespace stb::test
