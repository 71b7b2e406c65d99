// "transferraw %d\r": 1024-byte blocks with their CRC, each answered by one letter.
#include <algorithm>
#include <numeric>

#include "legacy_fixture.h"
#include "protocol/legacy.h"

namespace stb::test {
namespace {

class LegacyDownloadTest : public LegacyTest {
 protected:
  // The box accepts the command with `first`, then answers each block (and its CRC)
  // with the next letter of `letters`; the last letter repeats.
  void Script(std::vector<uint8_t> letters, uint8_t first = 'O', uint32_t delayMs = 0) {
    box_.onCommand = [this, first](const std::string&) {
      writes_ = 0;
      answered_ = 0;
      box_.Send(Bytes{first});
    };
    box_.onData = [this, letters, delayMs](const Bytes&) {
      // The tool writes a block and then its CRC: answer after the CRC.
      if (++writes_ % 2 != 0) return;
      const uint8_t letter = letters[std::min(answered_, letters.size() - 1)];
      ++answered_;
      box_.Send(Bytes{letter}, delayMs);
    };
  }
  static Bytes Pattern(size_t n) {
    Bytes data(n);
    std::iota(data.begin(), data.end(), uint8_t{7});
    return data;
  }
  static Bytes Block(const Bytes& data, size_t from, size_t n) {
    const Bytes block(data.begin() + from, data.begin() + from + n);
    return block + CrcBytes(block);
  }
  int Download(Bytes& data, CancelQuery cancel = nullptr) {
    return LegacyDownload(data.data(), static_cast<int32_t>(data.size()), RecordProgress, cancel);
  }

  size_t writes_ = 0;
  size_t answered_ = 0;
};

TEST_F(LegacyDownloadTest, SendsBlocksOfAKibibyteEachWithItsCrc) {
  Bytes data = Pattern(2500);
  Script({'O'});
  ASSERT_EQ(Download(data), 0);
  EXPECT_EQ(box_.Data(), Block(data, 0, 1024) + Block(data, 1024, 1024) + Block(data, 2048, 452));
  EXPECT_EQ(Progress(), (std::vector<int>{40, 81, 100}));
}

TEST_F(LegacyDownloadTest, FifthRejectionOfTheSameBlockEndsWithOverrun) {
  Bytes data = Pattern(3000);
  Script({'E'});
  EXPECT_EQ(Download(data), 12);
  const Bytes first = Block(data, 0, 1024);
  EXPECT_EQ(box_.Data(), first + first + first + first + first);
  EXPECT_TRUE(Progress().empty());
}

TEST_F(LegacyDownloadTest, AnAcceptedBlockStartsTheRejectionCountAfresh) {
  Bytes data = Pattern(2048);
  Script({'E', 'E', 'E', 'E', 'O', 'E', 'E', 'E', 'E', 'O'});
  ASSERT_EQ(Download(data), 0);
  const Bytes first = Block(data, 0, 1024), second = Block(data, 1024, 1024);
  EXPECT_EQ(box_.Data(),
            first + first + first + first + first + second + second + second + second + second);
}

TEST_F(LegacyDownloadTest, AnswersOtherThanOAndEEndTheDownload) {
  struct Case {
    const char* name;
    uint8_t first;
    std::vector<uint8_t> letters;
    uint32_t delayMs;
    int expected;
    size_t blocksWritten;
  };
  const Case cases[] = {
      {"command refused", 'E', {'O'}, 0, 10, 0},
      {"unknown letter", 'O', {'O', 'B'}, 0, 11, 2},
      {"slow answer", 'O', {'O'}, 9900, 0, 2},
      {"no answer", 'O', {'O'}, 10100, 8, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes data = Pattern(2048);
    Script(c.letters, c.first, c.delayMs);
    EXPECT_EQ(Download(data), c.expected);
    EXPECT_EQ(box_.Data().size(), c.blocksWritten * 1028);
  }
}

TEST_F(LegacyDownloadTest, ShortWritesAreSendDataError) {
  // The line takes the command, then fails inside the first block or inside its CRC.
  for (int64_t budget : {int64_t{100}, int64_t{1024 + 2}}) {
    SCOPED_TRACE(budget);
    Bytes data = Pattern(2048);
    Script({'O'});
    box_.onCommand = [this, budget](const std::string&) {
      box_.Send(Bytes{'O'});
      port_->writeBudget = budget;
    };
    EXPECT_EQ(Download(data), 3);
    port_->writeBudget = -1;
  }
}

TEST_F(LegacyDownloadTest, CancelStopsBeforeTheNextBlockWithoutTellingTheBox) {
  Bytes data = Pattern(3000);
  Script({'O'});
  CancelAtCall() = 1;
  EXPECT_EQ(Download(data, CancelQueryAt), 6);
  EXPECT_EQ(box_.Data(), Block(data, 0, 1024));
}

TEST_F(LegacyDownloadTest, ProgressOfAHugeDownloadStaysAPercentage) {
  // sent * 100 passes the 32-bit range above 21 MB.
  Bytes data(22'000'000, 0x5A);
  Script({'O'});
  ASSERT_EQ(Download(data), 0);
  ASSERT_FALSE(Progress().empty());
  EXPECT_TRUE(std::is_sorted(Progress().begin(), Progress().end()));
  EXPECT_GE(Progress().front(), 0);
  EXPECT_EQ(Progress().back(), 100);
}

}  // namespace
}  // namespace stb::test
