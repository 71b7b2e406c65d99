#include <gtest/gtest.h>
#include <signal.h>

#include <cstring>

#include "box_fixture.h"
#include "image/chunk_header.h"
#include "image/crc32.h"

namespace stb::test {
namespace {

// The built-in flash with new contents in one chunk (CRC made right again).
std::vector<uint8_t> ImageWithNewChunk(const std::vector<uint8_t>& flash, size_t chunk,
                                       uint32_t seed) {
  std::vector<uint8_t> image = flash;
  const ChunkPlace place = ChunkPlaces(flash).at(chunk);
  uint8_t* h = image.data() + place.start;
  const uint32_t length = ReadBe32(h + 4);
  const auto fresh = PatternBytes(length - 112, seed);
  std::copy(fresh.begin(), fresh.end(), h + 128);
  if (ReadBe32(h + 12) != NoCrcMarker)
    WriteBe32(h + 12, Crc32Of(h + 16, static_cast<int32_t>(length)));
  return image;
}

std::vector<uint8_t> Slice(const std::vector<uint8_t>& v, size_t start, size_t n) {
  return std::vector<uint8_t>(v.begin() + start, v.begin() + start + n);
}

class UpgradeTest : public BoxFixture {};

TEST_F(UpgradeTest, WholeImageCompressedAndOnALegacyBox) {
  for (uint32_t protocol : {0x30u, 32u}) {
    StartBox(protocol);
    const auto image = ImageWithNewChunk(box_->Flash(), 5, protocol);
    const CliResult r = Cli({"upgrade", "--allcode", dir_.Write("new.abs", image)});
    ASSERT_EQ(r.exitCode, 0) << protocol << r.err;
    EXPECT_NE(r.err.find("FLASHE ! NICHT AUSSCHALTEN !!"), std::string::npos);
    EXPECT_NE(r.err.find("Upgrade Success!"), std::string::npos);
    EXPECT_EQ(box_->Flash(), image) << protocol;
    EXPECT_EQ(box_->Stats().reboots, 1u);
    // Packet boxes get the data LZMA-compressed, legacy boxes never.
    EXPECT_EQ(LogHas("transfer -z"), protocol >= 0x30) << protocol;
    box_->Stop();
  }
}

TEST_F(UpgradeTest, ImageWithoutBootLoaderKeepsTheBoxBootLoader) {
  StartBox(0x31);
  const std::vector<uint8_t> flash = box_->Flash();
  auto image = ImageWithNewChunk(ImageWithNewChunk(flash, 0, 7), 3, 8);  // new boot loader too
  const CliResult r = Cli({"upgrade", "--allcode-no-boot", dir_.Write("new.abs", image)});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  const size_t bootSpan = ChunkPlaces(flash)[0].span;
  std::copy(flash.begin(), flash.begin() + bootSpan, image.begin());
  EXPECT_EQ(box_->Flash(), image);
}

TEST_F(UpgradeTest, TwoChunksOneFromAnImageOneRaw) {
  for (uint32_t protocol : {0x30u, 33u}) {
    StartBox(protocol);
    const std::vector<uint8_t> flash = box_->Flash();
    const auto places = ChunkPlaces(flash);
    const auto image = ImageWithNewChunk(flash, 1, 11);
    const auto raw = PatternBytes(places[5].span - 128 - 1000, 12);
    const CliResult r = Cli({"upgrade", "--chunk", "1=" + dir_.Write("logo.abs", image), "--chunk",
                             "5=" + dir_.Write("app.bin", raw)});
    ASSERT_EQ(r.exitCode, 0) << protocol << r.err;
    EXPECT_NE(r.err.find("Nichtladen:"), std::string::npos);
    const std::vector<uint8_t> now = box_->Flash();
    // The image's chunk as it was in the file.
    EXPECT_EQ(Slice(now, places[1].start, places[1].span),
              Slice(image, places[1].start, places[1].span));
    // The raw file behind a fresh header that checks out, 0xFF behind it.
    const uint8_t* h = now.data() + places[5].start;
    EXPECT_EQ(ReadBe32(h), places[5].id);
    EXPECT_EQ(ReadBe32(h + 4), raw.size() + 112);
    EXPECT_EQ(ReadBe32(h + 12), Crc32Of(h + 16, static_cast<int32_t>(raw.size() + 112)));
    EXPECT_EQ(Slice(now, places[5].start + 128, raw.size()), raw);
    EXPECT_EQ(Slice(now, places[5].start + 128 + raw.size(), 1000),
              std::vector<uint8_t>(1000, 0xFF));
    // Everything else is as it was.
    for (size_t i : {0, 2, 3, 4, 6}) {
      EXPECT_EQ(Slice(now, places[i].start, places[i].span),
                Slice(flash, places[i].start, places[i].span))
          << protocol << " chunk " << i;
    }
    box_->Stop();
  }
}

TEST_F(UpgradeTest, GarbledRepliesAndLostAcksAreRecovered) {
  sim::BoxOptions options;
  options.protocol = 0x30;
  options.faults.noiseBytes = 3;
  options.faults.corruptHeaderCrc = {2, 9};
  options.faults.corruptPayloadCrc = {5, 20};
  options.faults.dropReply = {7, 30, 31};
  StartBox(std::move(options));
  // Incompressible contents: many packets, so the faults land inside the transfer.
  std::vector<uint8_t> image = box_->Flash();
  const auto places = ChunkPlaces(image);
  const auto raw = PatternBytes(places[5].span - 128, 21);
  const CliResult r = Cli({"upgrade", "--chunk", "5=" + dir_.Write("app.bin", raw)});
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(Slice(box_->Flash(), places[5].start + 128, raw.size()), raw);
}

TEST_F(UpgradeTest, BoxErrorEndsWithItsText) {
  sim::BoxOptions options;
  options.protocol = 0x30;
  options.faults.errorFor["address"] = 0x10001;
  StartBox(std::move(options));
  const auto before = box_->Flash();
  const CliResult r = Cli({"--json", "upgrade", "--allcode", dir_.Write("x.abs", before)});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("STB set address  overflow!"), std::string::npos) << r.err;
  EXPECT_NE(r.out.find("\"code\": 65537"), std::string::npos) << r.out;
  EXPECT_EQ(box_->Stats().burns, 0u);
}

TEST_F(UpgradeTest, FailedBurnStillRestartsTheBox) {
  sim::BoxOptions options;
  options.protocol = 0x30;
  options.faults.burnFails = true;
  StartBox(std::move(options));
  const auto before = box_->Flash();
  const CliResult r =
      Cli({"upgrade", "--allcode", dir_.Write("x.abs", ImageWithNewChunk(before, 5, 3))});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("Fehler beim Brennvorgang!"), std::string::npos) << r.err;
  EXPECT_EQ(box_->Stats().reboots, 1u);
  EXPECT_EQ(box_->Flash(), before);
}

TEST_F(UpgradeTest, CancelDuringDownloadSendsAbort) {
  sim::BoxOptions options;
  options.protocol = 0x30;
  options.baud = 115200;
  StartBox(std::move(options));
  const auto before = box_->Flash();
  const auto raw = PatternBytes(ChunkPlaces(before)[5].span - 128, 5);
  const CliResult r = Cli({"upgrade", "--chunk", "5=" + dir_.Write("app.bin", raw)},
                          CliSignal{"Downloade Code:", SIGTERM});
  EXPECT_EQ(r.exitCode, 130) << r.err;
  EXPECT_TRUE(LogShows("abort")) << "the box was not told";
  EXPECT_EQ(box_->Stats().burns, 0u);
  EXPECT_EQ(box_->Flash(), before);
}

TEST_F(UpgradeTest, FilesThatDoNotFitAreRefusedBeforeAnythingIsSent) {
  StartBox(0x30);
  const auto places = ChunkPlaces(box_->Flash());
  const CliResult big =
      Cli({"upgrade", "--chunk", "5=" + dir_.Write("big.bin", PatternBytes(places[5].span - 127))});
  EXPECT_EQ(big.exitCode, 2);
  EXPECT_NE(big.err.find("Select File large than Slave chunk size"), std::string::npos) << big.err;
  const CliResult missing = Cli({"upgrade", "--allcode", dir_.File("none.abs")});
  EXPECT_EQ(missing.exitCode, 2);
  EXPECT_NE(missing.err.find("none.abs"), std::string::npos);
  const CliResult mixed = Cli({"upgrade", "--allcode", dir_.Write("a.abs", {1}), "--chunk",
                               "1=" + dir_.Write("b.bin", {1})});
  EXPECT_EQ(mixed.exitCode, 2);
  EXPECT_EQ(box_->Stats().burns, 0u);
}

}  // namespace
}  // namespace stb::test
