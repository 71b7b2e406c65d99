// "dump %u %u\r" from protocol 32 on: indexed blocks on request, header CRCs from 33.
#include <deque>
#include <numeric>
#include <optional>

#include "image/crc32.h"
#include "legacy_dump_buffer.h"
#include "legacy_fixture.h"
#include "protocol/legacy.h"

namespace stb::test {
namespace {

Bytes LittleEndianCrc(uint32_t value) {
  const Bytes le = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                    static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
  return CrcBytes(le);
}

// One block as the box sends it after an 'H'.
struct Frame {
  uint32_t index;
  uint32_t length;
  Bytes body;  // data and its CRC, or the blank marker and its CRC
  Bytes indexCrc;
  Bytes lengthCrc;
};

Frame DataFrame(uint32_t index, const Bytes& data) {
  const auto length = static_cast<uint32_t>(data.size());
  return {index, length, data + CrcBytes(data), LittleEndianCrc(index), LittleEndianCrc(length)};
}

// The CRC of "BLANKPCK" as the box sends it.
const Bytes kBlankBody = ToBytes("BLANKPCK") + Bytes{0x8F, 0xA5, 0x14, 0x70};

Frame BlankFrame(uint32_t index, uint32_t length) {
  return {index, length, kBlankBody, LittleEndianCrc(index), LittleEndianCrc(length)};
}

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes data(n);
  std::iota(data.begin(), data.end(), seed);
  return data;
}

// The box's side: a header per 'H', the body at once (32) or after 'G' (33 and up),
// then the tool's 9-byte answer. Each tool action is logged: "H", "G", "O<n>", "E<n>".
class BlockBox {
 public:
  BlockBox(ScriptedLegacyBox& box, bool headerCrcs) : box_(box), headerCrcs_(headerCrcs) {
    box_.onData = [this](const Bytes& bytes) { OnData(bytes); };
  }
  void AnnounceTotal(std::optional<uint32_t> total) {
    box_.onCommand = [this, total](const std::string&) {
      if (total) box_.Send(BigEndian32(*total));
    };
  }
  std::deque<Frame> frames;
  std::vector<std::string> log;
  std::vector<Bytes> answers;

 private:
  enum class State { WaitRequest, WaitConfirm, WaitAnswer };

  void OnData(const Bytes& bytes) {
    if (bytes.size() == 9) {
      answers.push_back(bytes);
      log.push_back(
          std::string(1, static_cast<char>(bytes[0])) +
          std::to_string((bytes[1] << 24) | (bytes[2] << 16) | (bytes[3] << 8) | bytes[4]));
      state_ = State::WaitRequest;
      return;
    }
    for (uint8_t letter : bytes) {
      log.push_back(std::string(1, static_cast<char>(letter)));
      if (state_ == State::WaitConfirm) {
        if (letter == 'G') {
          box_.Send(current_.body);
          state_ = State::WaitAnswer;
        } else {
          state_ = State::WaitRequest;  // header refused; the frame is gone
        }
      } else if (letter == 'H' && !frames.empty()) {
        current_ = frames.front();
        frames.pop_front();
        Bytes header = BigEndian32(current_.index) + BigEndian32(current_.length);
        if (headerCrcs_) {
          box_.Send(header + current_.indexCrc + current_.lengthCrc);
          state_ = State::WaitConfirm;
        } else {
          box_.Send(header + current_.body);
          state_ = State::WaitAnswer;
        }
      }
    }
  }

  ScriptedLegacyBox& box_;
  bool headerCrcs_;
  State state_ = State::WaitRequest;
  Frame current_{};
};

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
  blocks_->AnnounceTotal(1024);
  Frame bad = DataFrame(0x01020304 & 0x7FF, Pattern(1024, 2));
  bad.body.back() ^= 1;
  blocks_->frames = {bad, DataFrame(0x304, Pattern(1024, 2))};

  ASSERT_EQ(Dump(), 0);
  const Bytes rejected = Bytes{'E'} + BigEndian32(0x304);
  const Bytes taken = Bytes{'O'} + BigEndian32(0x304);
  ASSERT_EQ(blocks_->answers.size(), 2u);
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
    blocks_->AnnounceTotal(1024);
    blocks_->frames = {spoilt, DataFrame(3, Pattern(1024, 4))};

    ASSERT_EQ(Dump(), 0);
    EXPECT_EQ(Log(), (std::vector<std::string>{"H", "H", "H", "G", "O3"}));
    EXPECT_EQ(buffer_.Slice(3 * 1024, 1024), Pattern(1024, 4));
  }
}

TEST_F(LegacyDumpBlocksTest, BlankBlockIsFilledWithErasedFlash) {
  UseVersion(33);
  blocks_->AnnounceTotal(1024);
  blocks_->frames = {BlankFrame(5, 1024)};

  ASSERT_EQ(Dump(), 0);
  EXPECT_EQ(buffer_.Slice(5 * 1024, 1024), Bytes(1024, 0xFF));
  EXPECT_EQ(buffer_[5 * 1024 - 1], GuardedDumpBuffer::kUntouched);
  EXPECT_EQ(buffer_[6 * 1024], GuardedDumpBuffer::kUntouched);
  const Bytes taken = Bytes{'O', 0, 0, 0, 5};
  EXPECT_EQ(blocks_->answers, (std::vector<Bytes>{taken + CrcBytes(taken)}));
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
    Frame broken = DataFrame(1, Pattern(1024, 6));
    broken.body.resize(c.keep);
    if (c.spoil) broken.body[100] ^= 0xFF;
    blocks_->AnnounceTotal(1024);
    blocks_->frames = {broken, DataFrame(1, Pattern(1024, 6))};
    ASSERT_EQ(Dump(), 0);
    EXPECT_EQ(Log(), (std::vector<std::string>{"H", "E1", "H", "O1"}));
    EXPECT_EQ(buffer_.Slice(1024, 1024), Pattern(1024, 6));
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
  blocks_->AnnounceTotal(1024 + 11);
  blocks_->frames = {DataFrame(2047, Pattern(1024, 3)), BlankFrame(2046, 11)};
  ASSERT_EQ(Dump(), 0);
  EXPECT_EQ(buffer_.Slice(2047 * 1024, 1024), Pattern(1024, 3));
  // A blank block shorter than its marker is fine: it carries no data.
  EXPECT_EQ(buffer_.Slice(2046 * 1024, 12), Bytes(11, 0xFF) + Bytes{GuardedDumpBuffer::kUntouched});
  EXPECT_TRUE(buffer_.GuardIntact());
}

TEST_F(LegacyDumpBlocksTest, AnswersThatDoNotFitAreRefused) {
  struct Case {
    const char* name;
    uint32_t version;
    uint32_t rangeLength;
    std::optional<uint32_t> announced;
    Frame frame;
  };
  const Case cases[] = {
      {"block longer than a kibibyte", 33, 0, 4096, DataFrame(0, Pattern(1025, 1))},
      {"blank block longer than a kibibyte", 32, 0, 4096, BlankFrame(0, 1025)},
      {"data block shorter than its lead-in", 33, 0, 4096, DataFrame(0, Pattern(11, 1))},
      {"index past the buffer", 32, 0, 4096, DataFrame(2048, Pattern(1024, 1))},
      {"index far past the buffer", 33, 0, 4096, BlankFrame(0xFFFFFFFF, 1024)},
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
