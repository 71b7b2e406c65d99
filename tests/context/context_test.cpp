// The context object: initial values, ParseChunkMask, ResetSelections.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "context/upgrade_context.h"

namespace stb {
namespace {

class ContextTest : public ::testing::Test {
 protected:
  void SetUp() override { DestroyContext(); }
  void TearDown() override { DestroyContext(); }
  std::vector<uint32_t> Mask() const {
    const CUpgradeContext* c = GetContext();
    return std::vector<uint32_t>(c->ChunkMask, c->ChunkMask + c->ChunkMaskCount);
  }
};

TEST_F(ContextTest, FirstGetContextCreatesItWithTheInitialValues) {
  CUpgradeContext* c = GetContext();
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(GetContext(), c);
  EXPECT_EQ(c->Mode, 0);
  EXPECT_EQ(c->StbTool, 0);
  EXPECT_EQ(c->ChunkMaskCount, 0u);
  EXPECT_EQ(c->ProtocolVersion, 0u);
  EXPECT_EQ(c->State.load(), Idle);
  EXPECT_EQ(c->WarningLevel, 0u);
  EXPECT_EQ(c->TransferFormat2, 1);
  for (const ChunkSelection& s : c->Selections) {
    EXPECT_TRUE(s.FileName.empty());
    EXPECT_EQ(s.FileOffset, 0);
    EXPECT_EQ(s.FileLength, 0);
    EXPECT_EQ(s.IsImageChunk, 0);
  }
  EXPECT_EQ(Idle, 0);
  EXPECT_EQ(Connecting, 1);
  EXPECT_EQ(Operating, 2);
  EXPECT_EQ(Flashing, 3);
}

TEST_F(ContextTest, DestroyedContextComesBackFreshWithoutLoading) {
  GetContext()->Mode = 1;
  GetContext()->WarningLevel = 3;
  DestroyContext();
  EXPECT_EQ(GetContext()->Mode, 0);
  EXPECT_EQ(GetContext()->WarningLevel, 0u);
}

TEST_F(ContextTest, SerialSettingsAndCancelFlagStartWithTheirDefaults) {
  const SerialSettings defaults;
  EXPECT_EQ(defaults.Port, 1);
  EXPECT_EQ(defaults.Baud, 115200);
  EXPECT_EQ(defaults.Parity, 2);
  EXPECT_EQ(CancelRequested().load(), 0);
}

TEST_F(ContextTest, ChunkMaskExamples) {
  struct Case {
    const char* text;
    std::vector<uint32_t> expected;
  };
  const std::vector<Case> cases = {
      {"E3000010,02FD0200,", {0xE3000010u, 0x02FD0200u}},  // trailing comma
      {"E3000010", {}},                                    // no comma: no item
      {"E3000010,02FD0200", {0xE3000010u}},                // text after the last comma ignored
      {"0x04fb0100,", {0x04FB0100u}},                      // prefix and lower case
      {",,", {0u, 0u}},                                    // two commas alone
      {"zz,", {0u}},                                       // no digits
      {"", {}},
      {"  e3000010 ,", {0xE3000010u}},  // leading blanks skipped, digits up to the blank
      {"0X1F,", {0x1Fu}},
      {"-1,", {0xFFFFFFFFu}},  // minus negates modulo 2^32
      {"-0x10,", {0xFFFFFFF0u}},
      {"+10,", {0x10u}},
      {"100000000,", {0xFFFFFFFFu}},  // does not fit in 32 bits
      {"-100000000,", {0xFFFFFFFFu}},
      {"FFFFFFFF,", {0xFFFFFFFFu}},
      {"0x,", {0u}},  // "0x" without digits: the 0 alone
      {"12g4,", {0x12u}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseChunkMask(c.text), 1);
    EXPECT_EQ(Mask(), c.expected) << '"' << c.text << '"';
  }
}

TEST_F(ContextTest, ChunkMaskReplacesTheListEachTime) {
  ParseChunkMask("1,2,3,");
  ParseChunkMask("4,");
  EXPECT_EQ(Mask(), std::vector<uint32_t>{4u});
}

TEST_F(ContextTest, ChunkMaskKeepsTheFirst16Items) {
  std::string text;
  std::vector<uint32_t> expected;
  for (uint32_t i = 1; i <= 20; ++i) {
    text += std::to_string(i) + ",";  // read as hexadecimal
    if (i <= 16) expected.push_back(std::stoul(std::to_string(i), nullptr, 16));
  }
  ParseChunkMask(text.c_str());
  EXPECT_EQ(GetContext()->ChunkMaskCount, 16u);
  EXPECT_EQ(Mask(), expected);
}

TEST_F(ContextTest, ResetSelectionsThreeClearsEntriesZeroToFourOnly) {
  CUpgradeContext* c = GetContext();
  for (int i = 0; i < kSelectionCount; ++i) {
    c->Selections[i] = ChunkSelection{"file" + std::to_string(i), i + 1, 100 + i, 1};
  }
  EXPECT_EQ(ResetSelections(3), 1);
  for (int i = 0; i <= 4; ++i) {
    EXPECT_EQ(c->Selections[i].FileName, "") << i;
    EXPECT_EQ(c->Selections[i].FileOffset, 0) << i;
    EXPECT_EQ(c->Selections[i].FileLength, 0) << i;
    EXPECT_EQ(c->Selections[i].IsImageChunk, 0) << i;
  }
  for (int i = 5; i < kSelectionCount; ++i) {
    EXPECT_EQ(c->Selections[i].FileName, "file" + std::to_string(i)) << i;
    EXPECT_EQ(c->Selections[i].FileOffset, i + 1) << i;
    EXPECT_EQ(c->Selections[i].FileLength, 100 + i) << i;
    EXPECT_EQ(c->Selections[i].IsImageChunk, 1) << i;
  }
}

TEST_F(ContextTest, ResetSelectionsNeverGoesPastThe16Entries) {
  CUpgradeContext* c = GetContext();
  for (ChunkSelection& s : c->Selections) s.FileName = "x";
  ResetSelections(1000);
  for (const ChunkSelection& s : c->Selections) EXPECT_EQ(s.FileName, "");
  c->Selections[0].FileName = "y";
  ResetSelections(0xFFFFFFFFu);  // chunkCount + 2 would wrap in 32 bits
  EXPECT_EQ(c->Selections[0].FileName, "");
  c->Selections[2].FileName = "z";
  ResetSelections(0);  // entries 0 and 1 only
  EXPECT_EQ(c->Selections[2].FileName, "z");
}

}  // namespace
}  // namespace stb
