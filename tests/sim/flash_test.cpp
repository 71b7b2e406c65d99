// The box's flash: the built-in image, flashes from files, the chunk table reported
// from it, and the staging copy an upgrade writes into.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "image/chunk_table.h"
#include "image/image_file.h"
#include "sim/box_codes.h"
#include "sim/box_crc.h"
#include "sim/box_sim.h"
#include "sim/chunk_chain.h"
#include "sim/flash_model.h"

namespace stb::sim {
namespace {

class TempFiles {
 public:
  TempFiles() {
    char pattern[] = "/tmp/stb-sim-test-XXXXXX";
    dir_ = mkdtemp(pattern);
  }
  ~TempFiles() { (void)!std::system(("rm -rf '" + dir_ + "'").c_str()); }
  std::string Path(const std::string& name) const { return dir_ + "/" + name; }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
    std::ofstream(Path(name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<long>(bytes.size()));
    return Path(name);
  }
  static std::vector<uint8_t> Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::string dir_;
};

// A chain of chunks: (id, span, data bytes); span 0 marks the last.
std::vector<uint8_t> Chain(const std::vector<std::array<uint32_t, 3>>& chunks) {
  std::vector<uint8_t> out;
  for (const auto& [id, span, data] : chunks) {
    const size_t at = out.size();
    out.resize(at + (span != 0 ? span : 128 + data), 0xFF);
    uint8_t* h = &out[at];
    PutBe32(h, id);
    PutBe32(h + 4, 112 + data);
    PutBe32(h + 8, span);
    for (uint32_t i = 0; i < 112 + data; ++i) h[16 + i] = static_cast<uint8_t>(i * 7);
    PutBe32(h + 12, BoxCrc(h + 16, 112 + data));
  }
  return out;
}

TEST(DefaultFlash, IsARealisticChainWithSoundCrcs) {
  const std::vector<uint8_t> flash = BuildDefaultFlash();
  ASSERT_EQ(flash.size(), 0x100000u);
  std::vector<ChainChunk> chunks;
  std::string error;
  ASSERT_TRUE(WalkChain(flash.data(), flash.size(), chunks, error)) << error;
  const std::vector<uint32_t> ids = {0xE3000010, 0x02FD0100, 0x02FD0200, 0x02FD0300,
                                     0x03FC0100, 0x01FE0100, 0x04FB0100};
  ASSERT_EQ(chunks.size(), ids.size());
  size_t end = 0;
  for (size_t i = 0; i < chunks.size(); ++i) {
    const ChainChunk& c = chunks[i];
    EXPECT_EQ(c.id, ids[i]);
    EXPECT_EQ(c.offset, end) << "chunks lie back to back";
    EXPECT_EQ(c.crc, BoxCrc(&flash[c.offset + 16], c.length)) << std::hex << c.id;
    if (i > 0) {
      EXPECT_EQ(flash[c.offset] + flash[c.offset + 1], 255) << std::hex << c.id;
    }
    // Erased from the end of the data up to the next chunk (or the end of the flash).
    const size_t next = c.nextOffset != 0 ? c.offset + c.nextOffset : flash.size();
    for (size_t k = c.offset + 16 + c.length; k < next; ++k) {
      ASSERT_EQ(flash[k], 0xFF) << std::hex << c.id << " at " << k;
    }
    end = next;
  }
  EXPECT_EQ(chunks.back().nextOffset, 0u);
  EXPECT_EQ(ChunkTypeOf(0x01FE0100), 0) << "the application chunk is of type 0";
  // Texts are NUL-terminated inside their fields.
  EXPECT_STREQ(reinterpret_cast<const char*>(&flash[16]), "Bootloader");
  // The tool takes it as a valid image file.
  TempFiles files;
  EXPECT_TRUE(ValidateImage(files.Write("flash.bin", flash)));
}

TEST(DefaultFlash, ChunkTableHoldsTheHeadersAsTheyStand) {
  FlashModel model;
  std::string error;
  ASSERT_TRUE(model.Load(BoxOptions{}, error)) << error;
  std::string warning;
  const std::vector<uint8_t> table = model.ChunkTableData(warning);
  EXPECT_TRUE(warning.empty()) << warning;
  ASSERT_EQ(table.size(), 2u + 7 * 128);
  EXPECT_EQ(table[0], 3) << "flash type of 1 MiB";
  EXPECT_EQ(table[1], 0);
  const std::vector<uint8_t> flash = BuildDefaultFlash();
  std::vector<ChainChunk> chunks;
  WalkChain(flash.data(), flash.size(), chunks, error);
  for (size_t i = 0; i < chunks.size(); ++i) {
    EXPECT_TRUE(
        std::equal(&table[2 + 128 * i], &table[2 + 128 * (i + 1)], &flash[chunks[i].offset]))
        << i;
  }
  // And the tool's decoder reads it back.
  TargetChunkTable decoded{};
  DecodeChunkTable(table.data(), static_cast<uint32_t>(table.size()), decoded);
  EXPECT_EQ(decoded.flashSize, 0x100000u);
  ASSERT_EQ(decoded.chunkCount, 7u);
  EXPECT_EQ(decoded.chunks[5].id, 0x01FE0100u);
  EXPECT_STREQ(decoded.chunks[5].name, "Application");
}

TEST(FlashModelLoad, PadsToTheFlashSizeAndTakesTheType) {
  const std::vector<uint8_t> image = Chain({{0xE3000010, 0x1000, 100}, {0x04FB0100, 0, 50}});
  struct Case {
    int type;
    uint32_t size;
    uint8_t code;
  } cases[] = {{-1, 0x80000, 1}, {5, 0x200000, 5}, {13, 0x100000, 13}, {0, 0x80000, 0}};
  for (const Case& c : cases) {
    BoxOptions options;
    options.flash = image;
    options.flashType = c.type;
    FlashModel model;
    std::string error;
    ASSERT_TRUE(model.Load(options, error)) << error;
    EXPECT_EQ(model.Size(), c.size) << c.type;
    EXPECT_EQ(model.TypeCode(), c.code) << c.type;
    const std::vector<uint8_t> flash = model.Snapshot();
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
    EXPECT_EQ(flash.back(), 0xFF);
  }
}

TEST(FlashModelLoad, RefusesWhatIsNoFlash) {
  TempFiles files;
  std::vector<uint8_t> runaway = Chain({{0xE3000010, 0x1000, 100}, {0x04FB0100, 0, 50}});
  PutBe32(&runaway[8], 0x300000);  // next chunk beyond the flash
  std::vector<uint8_t> tooLong = Chain({{0xE3000010, 0x1000, 100}, {0x04FB0100, 0, 50}});
  PutBe32(&tooLong[4], 0x1000);  // data run into the next chunk
  std::vector<std::array<uint32_t, 3>> many;
  for (int i = 0; i < 16; ++i) many.push_back({0x02FD0100u + uint32_t(i), 0x200, 10});
  many.push_back({0x04FB0100, 0, 10});
  struct Case {
    const char* what;
    std::vector<uint8_t> flash;
    std::string file;
    int type;
  } cases[] = {
      {"missing file", {}, files.Path("none.bin"), -1},
      {"larger than 2 MiB", {}, files.Write("big.bin", std::vector<uint8_t>(0x200001, 0xFF)), -1},
      {"shorter than a header", std::vector<uint8_t>(100, 0), "", -1},
      {"chain leaves the flash", runaway, "", -1},
      {"length beyond nextOffset", tooLong, "", -1},
      {"more chunks than the table holds", Chain(many), "", -1},
      {"type smaller than the flash", BuildDefaultFlash(), "", 1},
  };
  for (const Case& c : cases) {
    BoxOptions options;
    options.flash = c.flash;
    options.flashFile = c.file;
    options.flashType = c.type;
    FlashModel model;
    std::string error;
    EXPECT_FALSE(model.Load(options, error)) << c.what;
    EXPECT_FALSE(error.empty()) << c.what;
  }
}

class Staging : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(model_.Load(BoxOptions{}, error)) << error;
    original_ = model_.Snapshot();
  }
  FlashModel model_;
  std::vector<uint8_t> original_;
};

TEST_F(Staging, NeedsAnAddressFirst) {
  const uint8_t b[4] = {1, 2, 3, 4};
  EXPECT_EQ(model_.Write(b, 4), int(kBoxAddressNotSet));
  EXPECT_EQ(model_.Move(0xE3000010, 0x10000), int(kBoxAddressNotSet));
  EXPECT_EQ(model_.CheckRoom(4), int(kBoxAddressNotSet));
  std::string saveError;
  EXPECT_EQ(model_.Commit("", saveError), int(kBoxCannotBurn));
  EXPECT_EQ(model_.SetAddress(0x100001), int(kBoxAddressOverflow));
}

TEST_F(Staging, WritesAndMovesAdvanceTheWritePositionUntilTheBurn) {
  ASSERT_EQ(model_.SetAddress(0), 0);
  EXPECT_EQ(model_.Move(0x02FD0100, 0x10000), int(kBoxCodeNotFound)) << "boot loader is there";
  ASSERT_EQ(model_.Move(0xE3000010, 0x10000), 0);
  const std::vector<uint8_t> logo(0x8000, 0x5A);
  ASSERT_EQ(model_.Write(logo.data(), 0x8000), 0);
  EXPECT_EQ(model_.Position(), 0x18000u);
  EXPECT_EQ(model_.StagedBytes(), 0x8000u);
  ASSERT_EQ(model_.Move(0x02FD0200, 0x8000), 0);
  EXPECT_EQ(model_.Snapshot(), original_) << "nothing reaches the flash before the burn";
  EXPECT_EQ(model_.CheckRoom(0x100000 - 0x20000), 0);
  EXPECT_EQ(model_.CheckRoom(0x100000 - 0x20000 + 1), int(kBoxAddressOverflow));

  TempFiles files;
  std::string saveError;
  ASSERT_EQ(model_.Commit(files.Path("saved.bin"), saveError), 0);
  EXPECT_TRUE(saveError.empty()) << saveError;
  std::vector<uint8_t> expected = original_;
  std::copy(logo.begin(), logo.end(), expected.begin() + 0x10000);
  EXPECT_EQ(model_.Snapshot(), expected);
  EXPECT_EQ(TempFiles::Read(files.Path("saved.bin")), expected);
  EXPECT_FALSE(model_.HasStaging());
}

TEST_F(Staging, EndOfSessionDropsWhatWasStaged) {
  ASSERT_EQ(model_.SetAddress(0x10000), 0);
  const std::vector<uint8_t> junk(300, 0);
  ASSERT_EQ(model_.Write(junk.data(), 300), 0);
  model_.EndSession();
  std::string saveError;
  EXPECT_EQ(model_.Commit("", saveError), int(kBoxCannotBurn));
  EXPECT_EQ(model_.Snapshot(), original_);
}

TEST_F(Staging, AFailedSaveKeepsTheBurntFlashAndLeavesNoTemporaryFile) {
  TempFiles files;
  // A directory cannot be replaced by the rename: the save fails after the write.
  const std::string dir = files.Path("dir");
  ASSERT_EQ(::mkdir(dir.c_str(), 0755), 0);
  ASSERT_EQ(model_.SetAddress(0x10000), 0);
  const std::vector<uint8_t> logo(64, 0x11);
  ASSERT_EQ(model_.Write(logo.data(), 64), 0);
  std::string saveError;
  ASSERT_EQ(model_.Commit(dir, saveError), 0);
  EXPECT_FALSE(saveError.empty());
  EXPECT_EQ(model_.Snapshot()[0x10000], 0x11);
  int entries = 0;
  for (const auto& e : std::filesystem::directory_iterator(files.Path(""))) {
    (void)e;
    ++entries;
  }
  EXPECT_EQ(entries, 1) << "only the directory itself";
}

}  // namespace
}  // namespace stb::sim
