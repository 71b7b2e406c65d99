#include "image/image_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "image/chunk_header.h"
#include "image/image_report.h"
#include "image_test_util.h"

namespace stb {
namespace {

using test::ChunkSpec;
using test::CrcMode;
using test::ImageBytes;

constexpr uint32_t kLoader = 0xE3000010u;
constexpr uint32_t kUserDb = 0x04FB0100u;
constexpr uint32_t kLogo = 0x02FD0100u;
constexpr uint32_t kDefaultDb = 0x03FC0100u;

struct Lookup {
  uint32_t id;
  bool found;
  uint32_t offset = 0;
  uint32_t size = 0;
};

struct ImageCase {
  const char* name;
  std::function<void(ImageBytes&)> build;
  ImageFault fault;  // kNone: ValidateImage accepts the file
  uint32_t faultIndex;
  uint64_t faultOffset;
  std::vector<Lookup> lookups;
};

// A loader chunk (length = nextOffset - 16, the most rule 3 allows) and a last chunk.
void TwoChunks(ImageBytes& b) {
  b.Put(0, {kLoader, 240, 256}).Put(256, {kUserDb, 200, 0});
}

const std::vector<ImageCase>& Cases() {
  static const std::vector<ImageCase> cases = {
      {"loader then user database",
       TwoChunks,
       ImageFault::kNone,
       0,
       0,
       {{kUserDb, true, 256, 216}, {kLoader, true, 0, 256}, {kLogo, false}}},
      {"second chunk of the loader family",
       [](ImageBytes& b) {
         b.Put(0, {kLoader, 240, 256}).Put(256, {0xE3000020u, 200, 0});
       },
       ImageFault::kIdNotComplement,
       1,
       256,
       {{kLoader, false}}},
      {"one chunk is no image but can be found",
       [](ImageBytes& b) {
         b.Put(0, {kDefaultDb, 240, 0});
       },
       ImageFault::kSingleChunk,
       0,
       0,
       {{kDefaultDb, true, 0, 256}}},
      {"nextOffset 0x200000 passes",
       [](ImageBytes& b) {
         b.Put(0, {kLoader, 240, 0x200000}).Put(0x200000, {kUserDb, 200, 0});
       },
       ImageFault::kNone,
       0,
       0,
       {{kUserDb, true, 0x200000, 216}}},
      {"nextOffset 0x200001 fails",
       [](ImageBytes& b) {
         b.Put(0, {kLoader, 240, 0x200001}).Put(0x200001, {kUserDb, 200, 0});
       },
       ImageFault::kNextOffsetTooLarge,
       0,
       0,
       {{kUserDb, false}}},
      {"length nextOffset - 15 fails",
       [](ImageBytes& b) {
         b.Put(0, {kLoader, 241, 256}).Put(256, {kUserDb, 200, 0});
       },
       ImageFault::kLengthPastNext,
       0,
       0,
       {{kLoader, false}}},
      // 8 - 16 wraps, so rule 3 passes; the walk stops at the header 8 bytes on.
      {"nextOffset 8 passes the length rule",
       [](ImageBytes& b) {
         b.Put(0, {kLoader, 0xFFFF0000u, 8, CrcMode::kMarker}).Resize(512);
       },
       ImageFault::kIdNotComplement,
       1,
       8,
       {{kLoader, false}}},
      {"marker chunk whose data run past the end",
       [](ImageBytes& b) {
         b.Put(0, {kLoader, 240, 256}).Put(256, {kUserDb, 0x100000, 0, CrcMode::kMarker});
       },
       ImageFault::kNone,
       0,
       0,
       {{kUserDb, true, 256, 0x100010}}},
      {"last chunk one byte short of its data",
       [](ImageBytes& b) {
         TwoChunks(b);
         b.Resize(b.size() - 1);
       },
       ImageFault::kDataPastEnd,
       1,
       256,
       {{kLoader, false}}},
      {"nextOffset leads to fewer than 128 bytes",
       [](ImageBytes& b) {
         b.Put(0, {kLoader, 240, 256}).Put(256, {kLogo, 240, 256}).Resize(512 + 127);
       },
       ImageFault::kHeaderPastEnd,
       2,
       512,
       {{kLoader, false}, {kLogo, false}}},
      {"wrong CRC",
       [](ImageBytes& b) {
         b.Put(0, {kLoader, 240, 256}).Put(256, {kUserDb, 200, 0, CrcMode::kWrong});
       },
       ImageFault::kCrcMismatch,
       1,
       256,
       {{kLoader, false}}},
      {"empty file", [](ImageBytes&) {}, ImageFault::kHeaderPastEnd, 0, 0, {{kLoader, false}}},
      {"a later chunk with the same id wins",
       [](ImageBytes& b) {
         b.Put(0, {kLogo, 240, 256}).Put(256, {kLogo, 240, 256}).Put(512, {kDefaultDb, 200, 0});
       },
       ImageFault::kNone,
       0,
       0,
       {{kLogo, true, 256, 256}}},
      {"occupied sizes",
       [](ImageBytes& b) {
         b.Put(0, {kLoader, 0x7F0, 0x1000})
             .Put(0x1000, {kUserDb, 0x7F0, 0x1000})
             .Put(0x2000, {kLogo, 0x7F0, 0x1000})
             .Put(0x3000, {kDefaultDb, 0x7F0, 0});
       },
       ImageFault::kNone,
       0,
       0,
       {{kUserDb, true, 0x1000, 0x800},
        {kLogo, true, 0x2000, 0x1000},
        {kDefaultDb, true, 0x3000, 0x800}}},
  };
  return cases;
}

TEST(ImageFile, RulesOfValidationAndLookup) {
  test::TempDir dir;
  for (const ImageCase& c : Cases()) {
    SCOPED_TRACE(c.name);
    ImageBytes bytes;
    c.build(bytes);
    const std::string path = dir.Write("image.bin", bytes.bytes());

    EXPECT_EQ(ValidateImage(path), c.fault == ImageFault::kNone);
    const ImageReport report = InspectImage(path);
    EXPECT_EQ(report.fault, c.fault) << ImageFaultText(report.fault);
    EXPECT_EQ(report.valid, c.fault == ImageFault::kNone);
    if (c.fault != ImageFault::kNone) {
      EXPECT_EQ(report.faultIndex, c.faultIndex);
      EXPECT_EQ(report.faultOffset, c.faultOffset);
    }
    for (const Lookup& l : c.lookups) {
      uint32_t offset = 0xAAAA, size = 0xBBBB;
      EXPECT_EQ(FindImageChunk(path, l.id, offset, size), l.found) << std::hex << l.id;
      EXPECT_EQ(offset, l.found ? l.offset : 0xAAAAu) << std::hex << l.id;
      EXPECT_EQ(size, l.found ? l.size : 0xBBBBu) << std::hex << l.id;
    }
  }
}

TEST(ImageFile, FilesThatCannotBeOpened) {
  test::TempDir dir;
  for (const std::string& path : {std::string(), dir.File("missing.bin"), dir.Path()}) {
    uint32_t offset = 0, size = 0;
    EXPECT_FALSE(ValidateImage(path)) << path;
    EXPECT_FALSE(FindImageChunk(path, kLoader, offset, size)) << path;
    const ImageReport report = InspectImage(path);
    EXPECT_EQ(report.fault, ImageFault::kCannotOpen) << path;
    EXPECT_FALSE(report.readable);
    EXPECT_NE(report.openError, 0);
  }
}

// 2048 chunks of 2 MiB end exactly at 4 GiB. A 32-bit position would wrap to 0 there
// and walk the chain again; the walk must instead find no header past the end.
TEST(ImageFile, ChainReachingFourGibibytesDoesNotWrap) {
  test::TempDir dir;
  const std::string path = dir.File("sparse.bin");
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ASSERT_GE(fd, 0);
  const uint64_t kEnd = uint64_t{1} << 32;
  if (::ftruncate(fd, static_cast<off_t>(kEnd)) != 0) {
    ::close(fd);
    GTEST_SKIP() << "no sparse 4 GiB file here";
  }
  for (uint64_t pos = 0; pos < kEnd; pos += 0x200000) {
    // A wrapped walk would meet the loader chunk again as chunk 2048 and stop there.
    ImageBytes one;
    one.Put(0, {pos == 0 ? kLoader : kLogo, 0x200000 - 16, 0x200000, CrcMode::kMarker});
    ASSERT_EQ(::pwrite(fd, one.bytes().data(), 128, static_cast<off_t>(pos)), 128);
  }
  ::close(fd);
  const ImageReport report = InspectImage(path);
  EXPECT_EQ(report.fault, ImageFault::kHeaderPastEnd);
  EXPECT_EQ(report.faultIndex, 2048u);
  EXPECT_EQ(report.faultOffset, kEnd);
  EXPECT_EQ(report.chunks.size(), 2048u);
  EXPECT_FALSE(ValidateImage(path));
}

TEST(InspectImage, ListsEachChunkAndTheOneThatFailed) {
  ImageBytes b;
  b.Put(0, {kLoader, 240, 256, CrcMode::kRight, "loader"})
      .Put(256, {kLogo, 240, 256, CrcMode::kMarker, "a_name_of_16_chr"})
      .Put(512, {kDefaultDb, 200, 0, CrcMode::kWrong, "db"});
  MemoryImageSource source(b.bytes().data(), b.size());
  const ImageReport report = InspectImage(source);
  EXPECT_FALSE(report.valid);
  EXPECT_EQ(report.fault, ImageFault::kCrcMismatch);
  ASSERT_EQ(report.chunks.size(), 3u);
  EXPECT_EQ(report.chunks[0].name, "loader");
  EXPECT_EQ(report.chunks[0].version, "1.0");
  EXPECT_EQ(report.chunks[0].crcStatus, CrcStatus::kOk);
  EXPECT_EQ(report.chunks[0].size, 256u);
  EXPECT_EQ(report.chunks[1].name, "a_name_of_16_chr");  // no NUL: the whole field
  EXPECT_EQ(report.chunks[1].crcStatus, CrcStatus::kNone);
  EXPECT_EQ(report.chunks[2].offset, 512u);
  EXPECT_EQ(report.chunks[2].crcStatus, CrcStatus::kBad);
  EXPECT_EQ(report.chunks[2].size, 216u);

  // A chunk that breaks another rule still shows what its CRC says.
  ImageBytes family;
  family.Put(0, {kLoader, 240, 256}).Put(256, {0xE3000020u, 200, 0});
  MemoryImageSource familySource(family.bytes().data(), family.size());
  const ImageReport second = InspectImage(familySource);
  ASSERT_EQ(second.chunks.size(), 2u);
  EXPECT_EQ(second.fault, ImageFault::kIdNotComplement);
  EXPECT_EQ(second.chunks[1].crcStatus, CrcStatus::kOk);
}

}  // namespace
}  // namespace stb
