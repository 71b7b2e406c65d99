// The faults of the legacy block dump: which block, and which bit of its header.
#include <gtest/gtest.h>

#include <string>

#include "sim/faults.h"

namespace stb::sim {
namespace {

TEST(BlockFaultParsing, TakesTheBlockAndOptionallyTheBit) {
  struct Case {
    const char* text;
    uint32_t indexAt, indexBit, lengthAt, lengthBit;
  };
  const Case cases[] = {
      {"block-index-flip=3", 3, 16, 0, 12},        {"block-index-flip=1:0", 1, 0, 0, 12},
      {"block-index-flip=0x10:31", 16, 31, 0, 12}, {"block-length-flip=2", 0, 16, 2, 12},
      {"block-length-flip=7:10", 0, 16, 7, 10},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    BoxFaults f;
    std::string error;
    ASSERT_TRUE(ParseFault(c.text, f, error)) << error;
    EXPECT_EQ(f.blockIndexFlipAt, c.indexAt);
    EXPECT_EQ(f.blockIndexFlipBit, c.indexBit);
    EXPECT_EQ(f.blockLengthFlipAt, c.lengthAt);
    EXPECT_EQ(f.blockLengthFlipBit, c.lengthBit);
  }
}

TEST(BlockFaultParsing, RefusesWhatNamesNoBlockOrBit) {
  for (const char* text :
       {"block-index-flip", "block-index-flip=", "block-index-flip=0", "block-index-flip=x",
        "block-index-flip=3:32", "block-index-flip=3:", "block-index-flip=:3",
        "block-length-flip=2:-1", "block-length-flip=2:1:1"}) {
    BoxFaults f;
    std::string error;
    EXPECT_FALSE(ParseFault(text, f, error)) << text;
    EXPECT_FALSE(error.empty()) << text;
  }
}

}  // namespace
}  // namespace stb::sim
