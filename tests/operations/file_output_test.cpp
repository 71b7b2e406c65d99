#include "operations/file_output.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "context/error_table.h"
#include "image_builder.h"

namespace stb {
namespace {

TEST(WriteFileAtomically, ReplacesOnlyWhenComplete) {
  test::TempDir dir;
  const std::string target = dir.Write("dump.bin", {1, 2, 3});
  const auto bytes = test::PatternBytes(5000);
  EXPECT_EQ(WriteFileAtomically(target, bytes.data(), bytes.size()), 0);
  EXPECT_EQ(test::ReadFileBytes(target), bytes);
  // Nothing but the target is left in the folder.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

TEST(WriteFileAtomically, FailuresLeaveTheOldFileAndNoLeftovers) {
  test::TempDir dir;
  const uint8_t byte = 7;
  EXPECT_EQ(WriteFileAtomically(dir.File("missing/dump.bin"), &byte, 1), 36);
  // A directory in the target's place is no file to replace: refused before any
  // temporary file is made.
  const std::string target = dir.File("adir");
  std::filesystem::create_directory(target);
  std::filesystem::create_directory(target + "/keep");
  EXPECT_EQ(WriteFileAtomically(target, &byte, 1), err::kNotRegularFile);
  EXPECT_TRUE(std::filesystem::is_directory(target + "/keep"));
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.Path()), {}), 1);
}

}  // namespace
}  // namespace stb
