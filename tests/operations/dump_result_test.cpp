// A dump reports success only with a file that holds exactly the range it asked for:
// a chunk without a valid range is never asked for, and a box that delivers nothing, or
// another length than asked, leaves no file and the older one untouched.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "context/error_table.h"
#include "image/chunk_table.h"
#include "image_builder.h"
#include "link/link.h"
#include "memory_port.h"
#include "operations/dump.h"
#include "virtual_clock.h"

namespace stb::test {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes BigEndian(uint32_t v) {
  return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

// A legacy loader that echoes the typed line, then answers what follows it.
class EchoingBox {
 public:
  explicit EchoingBox(MemoryPort& port) : port_(port) {
    port_.OnWrite([this](const uint8_t* data, int32_t n) {
      for (int32_t i = 0; i < n; ++i) OnByte(data[i]);
    });
  }
  std::function<void(const std::string& line)> onLine;
  std::function<void(uint8_t byte)> onData;

 private:
  void OnByte(uint8_t byte) {
    if (port_.purgeInputCount != purges_) {  // every command starts with a purge
      purges_ = port_.purgeInputCount;
      line_.clear();
      typing_ = true;
    }
    if (!typing_) {
      if (onData) onData(byte);
      return;
    }
    port_.Deliver(Bytes{byte});
    line_.push_back(static_cast<char>(byte));
    if (byte == '\r') {
      typing_ = false;
      if (onLine) onLine(line_);
    }
  }

  MemoryPort& port_;
  std::string line_;
  bool typing_ = true;
  int purges_ = 0;
};

class DumpResultTest : public ::testing::Test {
 protected:
  DumpResultTest() : port_(*clock_), box_(*port_) { saved_ = GetTargetChunkTable(); }
  ~DumpResultTest() override {
    GetTargetChunkTable() = saved_;
    SetProtocolVersion(0);
  }

  static TargetChunkInfo Chunk(uint32_t id, uint32_t length, uint32_t nextOffset) {
    TargetChunkInfo c{};
    c.id = id;
    c.length = length;
    c.nextOffset = nextOffset;
    std::snprintf(c.name, sizeof c.name, "chunk");
    return c;
  }
  void UseTable(const std::vector<TargetChunkInfo>& chunks) {
    TargetChunkTable& table = GetTargetChunkTable();
    table.chunkCount = static_cast<uint32_t>(chunks.size());
    for (size_t i = 0; i < chunks.size(); ++i) table.chunks[i] = chunks[i];
  }
  // A block box (32) that announces `total` and answers every 'H' with blank block n.
  void BlockBoxAnnouncing(uint32_t total) {
    box_.onLine = [this, total](const std::string&) {
      port_->Deliver(BigEndian(total));
      next_ = 0;
    };
    box_.onData = [this](uint8_t byte) {
      if (answerBytes_ > 0) {  // the tool's 9-byte answer to the block
        --answerBytes_;
        return;
      }
      if (byte != 'H') return;
      answerBytes_ = 9;
      const Bytes blank = {'B', 'L', 'A', 'N', 'K', 'P', 'C', 'K', 0x8F, 0xA5, 0x14, 0x70};
      Bytes block = BigEndian(next_++);
      const Bytes length = BigEndian(1024);
      block.insert(block.end(), length.begin(), length.end());
      block.insert(block.end(), blank.begin(), blank.end());
      port_->Deliver(block);
    };
  }
  bool FolderHoldsOnly(const std::string& name) const {
    auto it = std::filesystem::directory_iterator(dir_.Path());
    return std::distance(it, {}) == 1 && std::filesystem::exists(dir_.File(name));
  }

  ScopedVirtualClock clock_;
  ScopedMemoryPort port_;
  EchoingBox box_;
  TempDir dir_;
  TargetChunkTable saved_;
  uint32_t next_ = 0;
  int answerBytes_ = 0;
};

const Bytes kOld = {'o', 'l', 'd'};

TEST_F(DumpResultTest, ChunkWithoutAValidRangeIsNeverAskedFor) {
  struct Case {
    const char* name;
    std::vector<TargetChunkInfo> chunks;
    uint32_t slot;
  };
  const Case cases[] = {
      {"chunk smaller than its header", {Chunk(0x02FD0100, 40, 64), Chunk(0x01FE0100, 500, 0)}, 0},
      {"chunk that is only its header",
       {Chunk(0x02FD0100, 112, 128), Chunk(0x01FE0100, 500, 0)},
       0},
      {"range beyond 4 GiB",
       {Chunk(0x02FD0100, 500, 0x80000000), Chunk(0x03FC0100, 500, 0x80000000),
        Chunk(0x01FE0100, 500, 0)},
       2},
  };
  SetProtocolVersion(33);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    UseTable(c.chunks);
    const std::string fresh = dir_.File("fresh.bin");
    EXPECT_EQ(DumpChunk(c.slot, fresh), err::kChunkRange);
    EXPECT_FALSE(std::filesystem::exists(fresh));
    const std::string old = dir_.Write("old.bin", kOld);
    EXPECT_EQ(DumpChunk(c.slot, old), err::kChunkRange);
    EXPECT_EQ(ReadFileBytes(old), kOld);
    EXPECT_TRUE(port_->Written().empty()) << "the box was asked";
  }
}

TEST_F(DumpResultTest, BoxThatDeliversNothingIsAnError) {
  struct Case {
    uint32_t version;
    uint32_t start, length;
  };
  const Case cases[] = {{16, 0, 0}, {16, 128, 1000}, {32, 0, 0}, {32, 128, 1000}, {33, 0, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.version) + ": " + std::to_string(c.length));
    SetProtocolVersion(c.version);
    box_.onLine = [this](const std::string&) { port_->Deliver(BigEndian(0)); };
    box_.onData = nullptr;
    const std::string file = dir_.Write("flash.bin", kOld);
    EXPECT_EQ(DumpToFile(file, c.start, c.length), err::kDumpEmpty);
    EXPECT_EQ(ReadFileBytes(file), kOld);
    EXPECT_TRUE(FolderHoldsOnly("flash.bin"));
  }
  EXPECT_NE(std::string(ErrorTextOf(err::kDumpEmpty)).find("Nothing was written"),
            std::string::npos);
}

TEST_F(DumpResultTest, BoxThatDeliversAnotherLengthThanAskedIsAnError) {
  // Below 33 the box's total counts: it may differ from the range asked for.
  SetProtocolVersion(32);
  for (uint32_t total : {2048u, 512u}) {
    SCOPED_TRACE(total);
    BlockBoxAnnouncing(total);
    const std::string file = dir_.Write("chunk.bin", kOld);
    EXPECT_EQ(DumpToFile(file, 1024, 1024), err::kDumpLength);
    EXPECT_EQ(ReadFileBytes(file), kOld);
    EXPECT_TRUE(FolderHoldsOnly("chunk.bin"));
  }
  BlockBoxAnnouncing(1024);
  const std::string file = dir_.File("chunk.bin");
  ASSERT_EQ(DumpToFile(file, 1024, 1024), 0);
  EXPECT_EQ(ReadFileBytes(file), Bytes(1024, 0xFF));
}

}  // namespace
}  // namespace stb::test
