// Upgrades against a box whose answers go astray around the transfer and the burn:
// a lost burn reply still ends in a good upgrade and a restart; a transfer the box
// answers with Working or Done ends in an error, with nothing burned.
#include <gtest/gtest.h>

#include "box_fixture.h"
#include "image/chunk_header.h"
#include "image/crc32.h"

namespace stb::test {
namespace {

// The box's flash with new contents in its application chunk (CRC made right again).
std::vector<uint8_t> ImageWithNewApplication(const std::vector<uint8_t>& flash) {
  std::vector<uint8_t> image = flash;
  const ChunkPlace place = ChunkPlaces(flash).at(5);
  uint8_t* h = image.data() + place.start;
  const uint32_t length = ReadBe32(h + 4);
  const auto fresh = PatternBytes(length - 112, 41);
  std::copy(fresh.begin(), fresh.end(), h + 128);
  if (ReadBe32(h + 12) != NoCrcMarker)
    WriteBe32(h + 12, Crc32Of(h + 16, static_cast<int32_t>(length)));
  return image;
}

class UpgradeStallTest : public BoxFixture {
 protected:
  void StartWith(void (*fault)(sim::BoxFaults&)) {
    sim::BoxOptions options;
    options.protocol = 0x30;
    fault(options.faults);
    StartBox(std::move(options));
  }
};

TEST_F(UpgradeStallTest, LostOrGarbledBurnReplyStillUpgradesAndRestarts) {
  for (auto fault : {+[](sim::BoxFaults& f) { f.burnAckLost = true; },
                     +[](sim::BoxFaults& f) { f.burnAckGarbled = true; }}) {
    StartWith(fault);
    const auto image = ImageWithNewApplication(box_->Flash());
    const CliResult r = Cli({"upgrade", "--allcode", dir_.Write("new.abs", image)});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("Upgrade Success!"), std::string::npos) << r.err;
    EXPECT_EQ(box_->Flash(), image);
    EXPECT_EQ(box_->Stats().burns, 1u);
    EXPECT_GE(box_->Stats().repeatsAnswered, 1u);  // the burn was asked again
    EXPECT_EQ(box_->Stats().reboots, 1u);
    box_->Stop();
  }
}

// The tool gives up after 30 s without an acknowledged packet (one run each). Which
// code it ends with is the box's last answer: mostly 32 (Working) or 27 (silence),
// but the box also answers a request the tool cut short with an Error status.
TEST_F(UpgradeStallTest, TransferAnsweredWithWorkingEndsInAnError) {
  StartWith([](sim::BoxFaults& f) { f.transferWorking = true; });
  const auto before = box_->Flash();
  const CliResult r =
      Cli({"upgrade", "--allcode", dir_.Write("new.abs", ImageWithNewApplication(before))});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(r.err.find("Upgrade Error"), std::string::npos) << r.err;
  EXPECT_EQ(box_->Stats().burns, 0u);
  EXPECT_EQ(box_->Stats().reboots, 0u);
  EXPECT_EQ(box_->Flash(), before);
}

TEST_F(UpgradeStallTest, TransferAnsweredWithDoneEndsInAnError) {
  StartWith([](sim::BoxFaults& f) { f.transferDone = true; });
  const auto before = box_->Flash();
  const CliResult r =
      Cli({"upgrade", "--allcode", dir_.Write("new.abs", ImageWithNewApplication(before))});
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_NE(r.err.find("Upgrade Error"), std::string::npos) << r.err;
  EXPECT_EQ(box_->Stats().burns, 0u);
  EXPECT_EQ(box_->Stats().reboots, 0u);
  EXPECT_EQ(box_->Flash(), before);
}

}  // namespace
}  // namespace stb::test
