// Files the tool reads: only regular files, and never a blocking open, so a FIFO or
// a device chosen by mistake is refused with a reason instead of hanging the tool.
#include "image/input_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "context/error_table.h"
#include "image/image_file.h"
#include "image/image_report.h"
#include "image/image_verdict.h"
#include "image_builder.h"

namespace stb {
namespace {

TEST(InputFile, RegularFileOpensWithItsSize) {
  test::TempDir dir;
  const std::string path = dir.Write("a.bin", test::PatternBytes(1234));
  uint64_t size = 0;
  int why = -1;
  const int fd = OpenInputFile(path, size, why);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(size, 1234u);
  EXPECT_EQ(why, 0);
  uint8_t byte = 0;
  EXPECT_EQ(::read(fd, &byte, 1), 1);  // blocking reads work as usual
  ::close(fd);
}

TEST(InputFile, AnythingButARegularFileIsRefusedWithoutBlocking) {
  test::TempDir dir;
  const std::string fifo = dir.File("fifo");  // no writer: a plain open would wait forever
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
  const std::string link = dir.File("link");
  ASSERT_EQ(::symlink(fifo.c_str(), link.c_str()), 0);
  struct Case {
    std::string path;
    int why;
  };
  const Case cases[] = {
      {fifo, err::kNotRegularFile},       {link, err::kNotRegularFile},
      {dir.Path(), err::kNotRegularFile}, {"/dev/null", err::kNotRegularFile},
      {dir.File("missing"), ENOENT},      {"", ENOENT},
  };
  for (const Case& c : cases) {
    uint64_t size = 7;
    int why = 0;
    EXPECT_EQ(OpenInputFile(c.path, size, why), -1) << c.path;
    EXPECT_EQ(why, c.why) << c.path;
    EXPECT_EQ(OpenInputStream(c.path), nullptr) << c.path;

    // The image code opens its files the same way.
    uint32_t offset = 0, occupied = 0;
    EXPECT_FALSE(ValidateImage(c.path));
    EXPECT_FALSE(FindImageChunk(c.path, 0xE3000010u, offset, occupied));
    const ImageReport report = InspectImage(c.path);
    EXPECT_EQ(report.fault, ImageFault::kCannotOpen);
    EXPECT_EQ(report.openError, c.why);
    EXPECT_EQ(ImageVerdictText(report), "cannot open the file: " + InputErrorText(c.why));
  }
  EXPECT_EQ(InputErrorText(err::kNotRegularFile), "The file is not a regular file.");
  EXPECT_EQ(InputErrorText(ENOENT), "No such file or directory");
}

TEST(InputFile, VerdictNamesTheChunkAndTheRule) {
  test::TempDir dir;
  std::vector<uint8_t> image = test::BuildImage(
      {{0xE3000010u, test::PatternBytes(100), 256}, {0x01FE0100u, test::PatternBytes(300)}});
  const std::string good = dir.Write("good.abs", image);
  EXPECT_EQ(ImageVerdictText(InspectImage(good)), "");
  image[256 + 150] ^= 0x80;
  const std::string bad = dir.Write("bad.abs", image);
  EXPECT_EQ(ImageVerdictText(InspectImage(bad)), "chunk 1 at offset 256: CRC mismatch");
}

}  // namespace
}  // namespace stb
