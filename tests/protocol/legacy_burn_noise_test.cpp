// "burn\r" on a line that keeps bringing bytes but no records: passed over, but not
// for ever.
#include <string>
#include <utility>
#include <vector>

#include "legacy_fixture.h"
#include "protocol/legacy.h"

namespace stb::test {
namespace {

class LegacyBurnNoiseTest : public LegacyTest {
 protected:
  // After 'O', a noise byte every 500 ms up to noiseUntilMs, with the records given
  // (ms after the 'O', text) in their place.
  void Answer(uint32_t noiseUntilMs, std::vector<std::pair<uint32_t, std::string>> records) {
    box_.onCommand = [this, noiseUntilMs, records](const std::string&) {
      box_.Send(Bytes{'O'});
      acceptedAt_ = Now();
      size_t next = 0;
      for (uint32_t t = 500; t <= noiseUntilMs || next < records.size(); t += 500) {
        while (next < records.size() && records[next].first <= t) {
          box_.Send(records[next].second, records[next].first);
          ++next;
        }
        if (t <= noiseUntilMs) box_.Send(std::string("."), t);
      }
    };
  }
  uint32_t acceptedAt_ = 0;
};

TEST_F(LegacyBurnNoiseTest, ThirtySecondsOfNoiseWithoutARecordIsTimeout) {
  Answer(120'000, {});
  EXPECT_EQ(LegacyBurn(2097152, RecordProgress), 8);
  EXPECT_GE(Now() - acceptedAt_, 30'000u);
  EXPECT_LT(Now() - acceptedAt_, 31'000u);
}

TEST_F(LegacyBurnNoiseTest, EachRecordGivesTheBurnAnotherThirtySeconds) {
  Answer(70'000, {{20'000, "B0512\r\n"}, {45'000, "B1024\r\n"}, {70'200, "F"}});
  EXPECT_EQ(LegacyBurn(2097152, RecordProgress), 0);
  EXPECT_EQ(Progress(), (std::vector<int>{25, 50, 100}));
}

}  // namespace
}  // namespace stb::test
