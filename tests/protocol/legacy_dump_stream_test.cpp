// "dump\r" below protocol 32: the total, the tool's 'O', every byte, an optional CRC.
#include <numeric>

#include "legacy_dump_buffer.h"
#include "legacy_fixture.h"
#include "protocol/legacy.h"

namespace stb::test {
namespace {

class LegacyDumpStreamTest : public LegacyTest {
 protected:
  LegacyDumpStreamTest() { SetProtocolVersion(31); }

  static Bytes Flash(size_t n) {
    Bytes data(n);
    std::iota(data.begin(), data.end(), uint8_t{3});
    return data;
  }
  // The box announces `total`; once the tool says 'O' it streams `stream`.
  void Script(uint32_t total, const Bytes& stream) {
    box_.onCommand = [this, total](const std::string&) { box_.Send(BigEndian32(total)); };
    box_.onData = [this, stream](const Bytes& bytes) {
      if (bytes == Bytes{'O'}) box_.Send(stream);
    };
  }
  int Dump(CancelQuery cancel = nullptr) {
    return LegacyDump(buffer_.data(), total_, RecordProgress, cancel, 0, 0);
  }

  GuardedDumpBuffer buffer_;
  int32_t total_ = -7;
};

TEST_F(LegacyDumpStreamTest, StreamWithItsCrcFillsTheBuffer) {
  const Bytes flash = Flash(3000);
  Script(3000, flash + CrcBytes(flash));
  ASSERT_EQ(Dump(), 0);
  EXPECT_EQ(box_.Lines().back(), "dump\r");
  EXPECT_EQ(box_.Data(), Bytes{'O'});
  EXPECT_EQ(total_, 3000);
  EXPECT_EQ(buffer_.Slice(0, 3000), flash);
  EXPECT_EQ(buffer_[3000], GuardedDumpBuffer::kUntouched);
  // At byte 0, 1024, 2048 and the last one.
  EXPECT_EQ(Progress(), (std::vector<int>{0, 34, 68, 100}));
}

TEST_F(LegacyDumpStreamTest, CrcThatNeverComesLeavesTheDumpGood) {
  const Bytes flash = Flash(1500);
  Script(1500, flash);
  ASSERT_EQ(Dump(), 0);
  EXPECT_EQ(buffer_.Slice(0, 1500), flash);
}

TEST_F(LegacyDumpStreamTest, WrongCrcIsReadDataError) {
  const Bytes flash = Flash(1500);
  Bytes crc = CrcBytes(flash);
  crc[0] ^= 0x80;
  Script(1500, flash + crc);
  EXPECT_EQ(Dump(), 23);
}

TEST_F(LegacyDumpStreamTest, EachByteMayTakeAlmostHalfASecond) {
  const Bytes flash = Flash(6);
  box_.onCommand = [this](const std::string&) { box_.Send(BigEndian32(6)); };
  box_.onData = [&](const Bytes&) {
    for (size_t i = 0; i < flash.size(); ++i) box_.Send(Bytes{flash[i]}, 499 * (i + 1));
  };
  ASSERT_EQ(Dump(), 0);
  EXPECT_EQ(buffer_.Slice(0, 6), flash);
}

TEST_F(LegacyDumpStreamTest, APauseOfHalfASecondIsTimeout) {
  const Bytes flash = Flash(2000);
  box_.onCommand = [this](const std::string&) { box_.Send(BigEndian32(2000)); };
  box_.onData = [&](const Bytes&) {
    box_.Send(Bytes(flash.begin(), flash.begin() + 1200));
    box_.Send(Bytes(flash.begin() + 1200, flash.end()), 500);
  };
  EXPECT_EQ(Dump(), 8);
  EXPECT_EQ(buffer_.Slice(0, 1200), Bytes(flash.begin(), flash.begin() + 1200));
}

TEST_F(LegacyDumpStreamTest, TotalsThatDoNotFitAreRefusedBeforeTheTransfer) {
  struct Case {
    uint32_t total;
    int expected;
  };
  for (const Case c : {Case{0xFFFFFFFF, 14}, Case{0x80000000, 14},
                       Case{kDumpBufferSize + 1, kLegacyDumpRefused}}) {
    SCOPED_TRACE(c.total);
    Script(c.total, Flash(5000));
    EXPECT_EQ(Dump(), c.expected);
    EXPECT_TRUE(box_.Data().empty());  // no 'O': the box never starts sending
    EXPECT_TRUE(buffer_.Untouched());
  }
}

TEST_F(LegacyDumpStreamTest, TotalOfTheWholeBufferFitsExactly) {
  const Bytes flash = Flash(kDumpBufferSize);
  Script(kDumpBufferSize, flash + CrcBytes(flash));
  ASSERT_EQ(Dump(), 0);
  EXPECT_EQ(buffer_.Slice(0, kDumpBufferSize), flash);
  EXPECT_TRUE(buffer_.GuardIntact());
  EXPECT_EQ(Progress().size(), kDumpBufferSize / 1024 + 1);
}

TEST_F(LegacyDumpStreamTest, FailuresBeforeAndDuringTheStream) {
  // No total.
  box_.onCommand = nullptr;
  EXPECT_EQ(Dump(), 8);
  // The tool's 'O' does not go out.
  box_.onCommand = [this](const std::string&) {
    box_.Send(BigEndian32(100));
    port_->writeBudget = 0;
  };
  EXPECT_EQ(Dump(), 10);
  port_->writeBudget = -1;
  // Cancelled after the first piece.
  const Bytes flash = Flash(3000);
  box_.onCommand = [this](const std::string&) { box_.Send(BigEndian32(3000)); };
  box_.onData = [&](const Bytes&) {
    box_.Send(Bytes(flash.begin(), flash.begin() + 1024));
    box_.Send(Bytes(flash.begin() + 1024, flash.end()), 10);
  };
  CancelAtCall() = 1;
  EXPECT_EQ(Dump(CancelQueryAt), 6);
}

}  // namespace
}  // namespace stb::test
