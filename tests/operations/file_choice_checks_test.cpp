// The file rules that keep a box from being bricked or a file from being lost: a
// whole image is checked before it may be sent, only regular files are read (never
// with a blocking open), and no two chunks are dumped into one file.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>

#include "context/error_table.h"
#include "context/upgrade_context.h"
#include "image/chunk_table.h"
#include "image/image_report.h"
#include "image/image_verdict.h"
#include "image_builder.h"
#include "operations/file_choice.h"
#include "operations/upgrade.h"

namespace stb {
namespace {

class FileChoiceChecksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DestroyContext();
    TargetChunkTable& t = GetTargetChunkTable();
    std::memset(&t, 0, sizeof t);
    t.chunkCount = 3;
    Set(t.chunks[0], kBootLoaderId, 240, 256, "boot");
    Set(t.chunks[1], 0x01FE0100u, 1008, 1024, "app");
    Set(t.chunks[2], kUserDatabaseId, 200, 0, "udb");
    fifo_ = dir_.File("fifo");
    ASSERT_EQ(::mkfifo(fifo_.c_str(), 0644), 0);
  }
  void TearDown() override { DestroyContext(); }

  static void Set(TargetChunkInfo& c, uint32_t id, uint32_t length, uint32_t next,
                  const char* name) {
    c.id = id;
    c.length = length;
    c.nextOffset = next;
    std::strncpy(c.name, name, sizeof c.name - 1);
  }
  ChunkSelection& Entry(int key) { return GetContext()->Selections[key + 2]; }

  // An image that fits the box above.
  static std::vector<uint8_t> GoodImage() {
    return test::BuildImage({{kBootLoaderId, test::PatternBytes(100), 256},
                             {0x01FE0100u, test::PatternBytes(500), 1024},
                             {kUserDatabaseId, test::PatternBytes(50)}});
  }

  test::TempDir dir_;
  std::string fifo_;
};

TEST_F(FileChoiceChecksTest, WholeImageMustPassTheImageCheckUnlessForced) {
  const std::vector<uint8_t> good = GoodImage();
  std::vector<uint8_t> crc = good;
  crc[256 + 200] ^= 0x01;  // a data byte of the second chunk
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* reason;  // what the report says, as inspect shows it
  };
  const Case cases[] = {
      {"half", std::vector<uint8_t>(good.begin(), good.begin() + good.size() / 2),
       "chunk 1 at offset 256: chunk data run past the end of the file"},
      {"crc", crc, "chunk 1 at offset 256: CRC mismatch"},
      {"random", test::PatternBytes(5000, 9), nullptr},
  };
  for (const int key : {kAllcodeKey, kAllcodeNoBootKey}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + " key " + std::to_string(key));
      const std::string path = dir_.Write(std::string(c.name) + ".abs", c.bytes);
      const std::string reason = ImageVerdictText(InspectImage(path));
      ASSERT_FALSE(reason.empty());
      if (c.reason != nullptr) {
        EXPECT_EQ(reason, c.reason);
      }
      const FileChoiceResult r = ChooseFileForKey(key, path, 0);
      EXPECT_EQ(r.verdict, FileVerdict::InvalidImage);
      EXPECT_EQ(r.message, "The image is not valid: " + reason + ".");
      EXPECT_TRUE(Entry(key).FileName.empty());
      // Told to send it anyway, the file is taken as it is.
      EXPECT_EQ(ChooseFileForKey(key, path, 0, true).verdict, FileVerdict::Accepted);
      EXPECT_EQ(Entry(key).FileName, path);
      Entry(key).FileName.clear();
    }
    const std::string path = dir_.Write("good.abs", good);
    EXPECT_EQ(ChooseFileForKey(key, path, 0).verdict, FileVerdict::Accepted);
    EXPECT_EQ(Entry(key).FileName, path);
  }
  // A chunk row still takes a file that is no image as raw data.
  const std::string raw = dir_.Write("raw.bin", test::PatternBytes(500, 3));
  EXPECT_EQ(ChooseFileForKey(1, raw, 0).verdict, FileVerdict::Accepted);
}

TEST_F(FileChoiceChecksTest, OnlyRegularFilesAreReadAndNothingBlocks) {
  const std::string notRegular = ErrorTextOf(err::kNotRegularFile);
  for (const std::string& path : {fifo_, dir_.Path(), std::string("/dev/null")}) {
    for (const int key : {kAllcodeKey, kAllcodeNoBootKey, 1}) {
      const FileChoiceResult r = ChooseFileForKey(key, path, 0);
      EXPECT_EQ(r.verdict, FileVerdict::RefusedError) << path << " " << key;
      EXPECT_EQ(r.message, path + ": " + notRegular);
      EXPECT_TRUE(Entry(key).FileName.empty());
    }
  }
  // The workers open their files the same way: a FIFO put in place of a chosen file
  // ends the transfer instead of hanging it.
  EXPECT_EQ(DownloadAllcode(fifo_, true), err::kFileNotOpen);
  Entry(1).FileName = fifo_;
  Entry(1).FileLength = 10;
  EXPECT_EQ(DownloadChunk(1), err::kFileNotOpen);
}

TEST_F(FileChoiceChecksTest, DumpRefusesTheFileOfAnotherChunk) {
  const std::string a = dir_.File("a.bin");
  ASSERT_EQ(ChooseFileForKey(0, a, 1).verdict, FileVerdict::Accepted);
  // The same file under other names: a path not yet there, then one that exists.
  FileChoiceResult r = ChooseFileForKey(1, dir_.Path() + "/./a.bin", 1);
  EXPECT_EQ(r.verdict, FileVerdict::RefusedWarning);
  EXPECT_EQ(r.message, "The file is already chosen for another chunk.");
  const std::string real = dir_.Write("real.bin", {1});
  const std::string link = dir_.File("link.bin");
  ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
  ASSERT_EQ(ChooseFileForKey(2, real, 1).verdict, FileVerdict::Accepted);
  EXPECT_EQ(ChooseFileForKey(1, link, 1).verdict, FileVerdict::RefusedWarning);
  EXPECT_TRUE(Entry(1).FileName.empty());

  // The row that holds the file may take it again; another file is fine.
  EXPECT_EQ(ChooseFileForKey(0, a, 1).verdict, FileVerdict::Accepted);
  EXPECT_EQ(ChooseFileForKey(1, dir_.File("b.bin"), 1).verdict, FileVerdict::Accepted);
  // "Allcode" clears every chunk choice when it is shown, so it meets none of them.
  EXPECT_EQ(ChooseFileForKey(kAllcodeKey, a, 1).verdict, FileVerdict::Accepted);
}

}  // namespace
}  // namespace stb
