#include "operations/file_choice.h"

#include <gtest/gtest.h>

#include <cstring>

#include "context/upgrade_context.h"
#include "image/chunk_table.h"
#include "image_builder.h"

namespace stb {
namespace {

// A box with a boot loader (span 256), an application of type 0 (span 1024) and a
// user database last (span 216).
class FileChoiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DestroyContext();
    TargetChunkTable& t = GetTargetChunkTable();
    std::memset(&t, 0, sizeof t);
    t.chunkCount = 3;
    Set(t.chunks[0], kBootLoaderId, 240, 256, "boot");
    Set(t.chunks[1], 0x01FE0100u, 1008, 1024, "app");
    Set(t.chunks[2], kUserDatabaseId, 200, 0, "udb");
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

  test::TempDir dir_;
};

TEST_F(FileChoiceTest, RawFilesFitBySpanWithTheTypeOneException) {
  struct Case {
    int key;
    size_t size;
    bool accepted;
  };
  const Case cases[] = {
      {1, 1024 - 128, true},
      {1, 1024 - 127, false},  // type 0: header goes in front
      {0, 256, true},
      {0, 257, false},  // type 1: sent without a header
  };
  for (const Case& c : cases) {
    SetUp();
    const std::string path = dir_.Write("raw.bin", test::PatternBytes(c.size));
    const FileChoiceResult r = ChooseFileForKey(c.key, path, 0);
    if (c.accepted) {
      EXPECT_EQ(r.verdict, FileVerdict::Accepted) << c.key << " " << c.size;
      EXPECT_EQ(Entry(c.key).FileName, path);
      EXPECT_EQ(Entry(c.key).FileLength, static_cast<int32_t>(c.size));
      EXPECT_EQ(Entry(c.key).IsImageChunk, 0);
    } else {
      EXPECT_EQ(r.verdict, FileVerdict::RefusedWarning);
      const uint32_t span = c.key == 0 ? 256 : 1024;
      EXPECT_EQ(r.message, RawFileTooLargeMessage(span));
      EXPECT_TRUE(Entry(c.key).FileName.empty());
    }
  }
  EXPECT_EQ(RawFileTooLargeMessage(0x20000),
            "Select File large than Slave chunk size \n Code Größe: 0x00020000");
}

TEST_F(FileChoiceTest, ImageFilesGiveTheirMatchingChunk) {
  // The application chunk inside occupies its nextOffset: 1024 fits, 1025 does not.
  const auto fits = test::BuildImage({{kBootLoaderId, test::PatternBytes(100), 256},
                                      {0x01FE0100u, test::PatternBytes(500), 1024},
                                      {kUserDatabaseId, test::PatternBytes(50)}});
  const std::string good = dir_.Write("good.abs", fits);
  FileChoiceResult r = ChooseFileForKey(1, good, 0);
  ASSERT_EQ(r.verdict, FileVerdict::Accepted);
  EXPECT_EQ(Entry(1).FileOffset, 256);
  EXPECT_EQ(Entry(1).FileLength, 1024);
  EXPECT_EQ(Entry(1).IsImageChunk, 1);

  const auto tooLarge = test::BuildImage({{kBootLoaderId, test::PatternBytes(100), 256},
                                          {0x01FE0100u, test::PatternBytes(500), 1025},
                                          {kUserDatabaseId, test::PatternBytes(50)}});
  r = ChooseFileForKey(1, dir_.Write("big.abs", tooLarge), 0);
  EXPECT_EQ(r.verdict, FileVerdict::RefusedWarning);
  EXPECT_EQ(r.message, ImageChunkTooLargeMessage(1024));
  EXPECT_EQ(r.message,
            "Die ausgewählte Datei ist Größer als die Zieldatei !!! \n Code Größe: 0x00000400");
  // The refusal leaves the earlier choice exactly as it was.
  EXPECT_EQ(Entry(1).FileName, good);
  EXPECT_EQ(Entry(1).FileOffset, 256);

  const auto without = test::BuildImage(
      {{kBootLoaderId, test::PatternBytes(100), 256}, {kUserDatabaseId, test::PatternBytes(50)}});
  r = ChooseFileForKey(1, dir_.Write("other.abs", without), 0);
  EXPECT_EQ(r.verdict, FileVerdict::RefusedWarning);
  EXPECT_EQ(r.message, "could not find corresponding chunk.");
}

TEST_F(FileChoiceTest, EmptyMissingAndDumpTargets) {
  EXPECT_EQ(ChooseFileForKey(1, dir_.Write("empty.bin", {}), 0).verdict,
            FileVerdict::RefusedSilent);
  const FileChoiceResult missing = ChooseFileForKey(1, dir_.File("nope.bin"), 0);
  EXPECT_EQ(missing.verdict, FileVerdict::RefusedError);
  EXPECT_NE(missing.message.find("nope.bin"), std::string::npos);
  EXPECT_EQ(ChooseFileForKey(1, dir_.Path(), 0).verdict, FileVerdict::RefusedError);

  // "Allcode" rows take a file that is no image only when told to; dump mode takes
  // any path.
  const std::string junk = dir_.Write("junk.bin", test::PatternBytes(10));
  EXPECT_EQ(ChooseFileForKey(kAllcodeKey, junk, 0).verdict, FileVerdict::InvalidImage);
  EXPECT_TRUE(GetContext()->Selections[1].FileName.empty());
  EXPECT_EQ(ChooseFileForKey(kAllcodeKey, junk, 0, true).verdict, FileVerdict::Accepted);
  EXPECT_EQ(GetContext()->Selections[1].FileName, junk);
  EXPECT_EQ(ChooseFileForKey(2, dir_.File("out.udf"), 1).verdict, FileVerdict::Accepted);
  EXPECT_EQ(Entry(2).FileName, dir_.File("out.udf"));
}

TEST_F(FileChoiceTest, KeysOutsideTheContextAreRefused) {
  GetTargetChunkTable().chunkCount = 16;
  const std::string path = dir_.Write("x.bin", test::PatternBytes(10));
  EXPECT_EQ(ChooseFileForKey(14, path, 1).verdict, FileVerdict::RefusedSilent);
  EXPECT_EQ(ChooseFileForKey(16, path, 1).verdict, FileVerdict::RefusedSilent);
  EXPECT_EQ(ChooseFileForKey(-3, path, 1).verdict, FileVerdict::RefusedSilent);
  EXPECT_EQ(ChooseFileForKey(13, path, 1).verdict, FileVerdict::Accepted);
}

TEST(FileChoiceRules, AllcodeChoiceExcludesOtherRows) {
  EXPECT_EQ(FirstChosenRowKey({{-1, false}, {-2, false}, {0, true}, {2, true}}), 0);
  EXPECT_EQ(FirstChosenRowKey({{-1, true}, {-2, false}, {0, false}}), -1);
  EXPECT_EQ(FirstChosenRowKey({}), 0);
  EXPECT_TRUE(RowAcceptsChoice(0, -1));  // nothing or chunks chosen: anything goes
  EXPECT_TRUE(RowAcceptsChoice(2, 5));
  EXPECT_TRUE(RowAcceptsChoice(-1, -1));  // the same Allcode row may take another file
  EXPECT_FALSE(RowAcceptsChoice(-1, -2));
  EXPECT_FALSE(RowAcceptsChoice(-2, 0));
}

TEST(FileChoiceRules, FiltersByChunkIdentifier) {
  struct Case {
    uint32_t id;
    const char* extension;
    const char* filter;
  };
  const Case cases[] = {
      {0, "abs", "BIN & ABS|*.bin;*.abs|All File(*.*)|*.*|"},
      {0xE3000010u, "abs", "BIN & ABS|*.bin;*.abs|All File(*.*)|*.*|"},
      {0x02FD0300u, "m2v", "Logo file(*.m2v)|*.m2v|All File(*.*)|*.*|"},
      {0x03FC0100u, "ddf", "default db(*.ddf)|*.ddf|All File(*.*)|*.*|"},
      {0x04FB0100u, "udf", "user db(*.udf)|*.udf|All File(*.*)|*.*|"},
      {0xE3000020u, "bin", "other file(*.bin)|*.bin|All File(*.*)|*.*|"},
  };
  for (const Case& c : cases) {
    const FileFilter f = FileFilterForChunk(c.id);
    EXPECT_EQ(f.extension, c.extension) << std::hex << c.id;
    EXPECT_EQ(f.filter, c.filter) << std::hex << c.id;
  }
}

}  // namespace
}  // namespace stb
