// Below protocol 32 the box streams its whole flash whatever range is asked for: the
// dump cuts the range out of it.
#include <numeric>

#include "context/error_table.h"
#include "legacy_dump_buffer.h"
#include "legacy_fixture.h"
#include "protocol/legacy.h"

namespace stb::test {
namespace {

class LegacyDumpStreamRangeTest : public LegacyTest {
 protected:
  LegacyDumpStreamRangeTest() {
    SetProtocolVersion(16);
    std::iota(flash_.begin(), flash_.end(), uint8_t{9});
    box_.onCommand = [this](const std::string&) {
      box_.Send(BigEndian32(static_cast<uint32_t>(flash_.size())));
    };
    box_.onData = [this](const Bytes& bytes) {
      if (bytes == Bytes{'O'}) box_.Send(flash_ + CrcBytes(flash_));
    };
  }
  int Dump(uint32_t offset, uint32_t length) {
    return LegacyDump(buffer_.data(), total_, RecordProgress, nullptr, offset, length);
  }

  Bytes flash_ = Bytes(5000);
  GuardedDumpBuffer buffer_;
  int32_t total_ = -7;
};

TEST_F(LegacyDumpStreamRangeTest, RangeIsCutOutOfTheWholeFlash) {
  struct Case {
    uint32_t offset, length;
  };
  for (const Case c : {Case{384, 1000}, Case{0, 128}, Case{4000, 1000}, Case{4999, 1}}) {
    SCOPED_TRACE(std::to_string(c.offset) + "+" + std::to_string(c.length));
    ASSERT_EQ(Dump(c.offset, c.length), 0);
    EXPECT_EQ(box_.Lines().back(), "dump\r");  // the stream command takes no range
    EXPECT_EQ(total_, static_cast<int32_t>(c.length));
    EXPECT_EQ(buffer_.Slice(0, c.length),
              Bytes(flash_.begin() + c.offset, flash_.begin() + c.offset + c.length));
  }
}

TEST_F(LegacyDumpStreamRangeTest, WholeFlashStaysAsItCame) {
  ASSERT_EQ(Dump(0, 0), 0);
  EXPECT_EQ(total_, 5000);
  EXPECT_EQ(buffer_.Slice(0, 5000), flash_);
}

TEST_F(LegacyDumpStreamRangeTest, RangeBeyondWhatTheBoxSentIsAnError) {
  struct Case {
    uint32_t offset, length;
  };
  for (const Case c : {Case{4000, 1001}, Case{5001, 1}, Case{128, 0xFFFFFFFF}}) {
    SCOPED_TRACE(std::to_string(c.offset) + "+" + std::to_string(c.length));
    EXPECT_EQ(Dump(c.offset, c.length), err::kChunkRange);
  }
}

}  // namespace
}  // namespace stb::test
