// "burn\r": progress records in kibibytes until the box has finished or failed.
#include "legacy_fixture.h"
#include "protocol/legacy.h"

namespace stb::test {
namespace {

class LegacyBurnTest : public LegacyTest {
 protected:
  void Answer(const std::string& reply, uint8_t first = 'O') {
    box_.onCommand = [this, reply, first](const std::string&) {
      box_.Send(Bytes{first});
      box_.Send(reply);
    };
  }
};

TEST_F(LegacyBurnTest, RecordsBecomePercentOfTheTotal) {
  struct Case {
    const char* record;  // four characters of number, two ignored
    int32_t totalBytes;
    int percent;
  };
  const Case cases[] = {
      {"1024\r\n", 2097152, 50},  // the record counts KiB
      {" 512xx", 2097152, 25},    // leading blank
      {"+256..", 2097152, 12},    // sign, rounded down
      {"12ab34", 102400, 12},     // the number ends at the first other character
      {"0099\r\n", 102400, 99},   {"-100\r\n", 2097152, 0},  // below 0 is clamped
      {"9999\r\n", 2097152, 100},                            // above 100 is clamped
      {"1024\r\n", 0, 0},                                    // nothing announced: no division
      {"1024\r\n", -4096, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.record);
    Progress().clear();
    Answer(std::string("B") + c.record + "F");
    ASSERT_EQ(LegacyBurn(c.totalBytes, RecordProgress), 0);
    EXPECT_EQ(Progress(), (std::vector<int>{c.percent, 100}));
  }
}

TEST_F(LegacyBurnTest, BytesBetweenRecordsAreIgnored) {
  Answer(
      "\r\n.B1024\r\nzzB2048\r\n\xff"
      "F");
  ASSERT_EQ(LegacyBurn(2097152, RecordProgress), 0);
  EXPECT_EQ(Progress(), (std::vector<int>{50, 100, 100}));
}

TEST_F(LegacyBurnTest, BoxErrorDropsItsEightDetailBytesAndIsBurnFailure) {
  Answer("B0512\r\nE12345678!");
  EXPECT_EQ(LegacyBurn(2097152, RecordProgress), 13);
  EXPECT_EQ(Progress(), (std::vector<int>{25}));
  EXPECT_EQ(port_->BytesAvailable(), 1);  // exactly the eight were taken
}

TEST_F(LegacyBurnTest, BoxErrorWithoutItsDetailsIsStillBurnFailure) {
  Answer("E123");
  EXPECT_EQ(LegacyBurn(2097152, RecordProgress), 13);
}

TEST_F(LegacyBurnTest, ThirtySecondsOfSilenceIsTimeout) {
  box_.onCommand = [this](const std::string&) {
    box_.Send(Bytes{'O'});
    box_.Send(std::string("B1024\r\n"), 29'900);  // a long erase is fine
  };
  const uint32_t start = Now();
  EXPECT_EQ(LegacyBurn(2097152, RecordProgress), 8);
  EXPECT_EQ(Progress(), (std::vector<int>{50}));
  EXPECT_GE(Now() - start, 29'900u + 30'000u);
}

TEST_F(LegacyBurnTest, RefusalOrAShortRecordEndsTheBurn) {
  Answer("F", 'E');
  EXPECT_EQ(LegacyBurn(2097152, RecordProgress), 10);
  Answer("B102");
  EXPECT_EQ(LegacyBurn(2097152, RecordProgress), 8);
  EXPECT_TRUE(Progress().empty());
}

}  // namespace
}  // namespace stb::test
