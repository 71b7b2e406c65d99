// The legacy box on a real pseudo-terminal, driven byte for byte: loader information,
// address, move, raw download with block CRCs, burn records and the three dumps.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sim/box_crc.h"
#include "sim_client.h"

namespace stb::sim::test {
namespace {

class LegacyBox : public ::testing::Test {
 protected:
  void Begin(uint32_t protocol, BoxOptions options = {}) {
    options.protocol = protocol;
    run_ = std::make_unique<RunningBox>(std::move(options));
    ASSERT_TRUE(run_->started) << run_->box->LastError();
    const std::string id = "@KVO PROTOCOL 3.0+";
    ASSERT_EQ(client().Handshake(), std::vector<uint8_t>(id.begin(), id.end()));
  }
  SimClient& client() { return run_->client; }
  BoxSimulator& box() { return *run_->box; }
  // Types a command and returns the one answer letter (0 when none came).
  uint8_t Letter(const std::string& command, int timeoutMs = 1000) {
    EXPECT_TRUE(client().Type(command)) << command;
    const std::vector<uint8_t> a = client().Read(1, timeoutMs);
    return a.empty() ? 0 : a[0];
  }
  uint32_t Number() {
    const std::vector<uint8_t> b = client().Read(4, 1000);
    EXPECT_EQ(b.size(), 4u);
    return b.size() == 4 ? GetBe32(b.data()) : 0;
  }
  // The tool's 9-byte block answer.
  bool AnswerBlock(char letter, uint32_t n) {
    std::vector<uint8_t> a(9);
    a[0] = static_cast<uint8_t>(letter);
    PutBe32(&a[1], n);
    PutBe32(&a[5], BoxCrc(a.data(), 5));
    return client().Write(a);
  }

  std::unique_ptr<RunningBox> run_;
};

TEST_F(LegacyBox, LoaderInfoCarriesTheMarkerFrom33On) {
  struct Case {
    uint32_t protocol;
    int64_t reported;
    bool marker;
  } cases[] = {{33, -1, true},  {47, -1, true}, {32, -1, false},
               {16, -1, false}, {33, 0, false}, {32, 0x30, true}};
  const std::vector<uint8_t> flash = BuildDefaultFlash();
  for (const Case& c : cases) {
    BoxOptions options;
    options.reportVersion = c.reported;
    Begin(c.protocol, options);
    ASSERT_TRUE(client().Type("version -r\r"));
    std::vector<uint8_t> first = client().Read(2, 1000);
    ASSERT_EQ(first.size(), 2u);
    uint32_t v = (uint32_t{first[0]} << 8) | first[1];
    if (c.marker) {
      const uint32_t expected = c.reported >= 0 ? uint32_t(c.reported) : c.protocol;
      EXPECT_EQ(v, 0xB700 + expected) << c.protocol;
      first = client().Read(2, 1000);
      v = (uint32_t{first[0]} << 8) | first[1];
    }
    ASSERT_EQ(v, 2u + 7 * 128) << c.protocol << " " << c.reported;
    const std::vector<uint8_t> table = client().Read(v, 1000);
    ASSERT_EQ(table.size(), v);
    EXPECT_EQ(Number(), BoxCrc(table.data(), table.size()));
    EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + 128, table.begin() + 2));
    EXPECT_TRUE(client().ReadQuiet(30).empty());
    run_.reset();
  }
}

TEST_F(LegacyBox, DownloadsInCrcBlocksBurnsAndSaves) {
  Begin(32);
  EXPECT_EQ(Letter("transferraw 10\r"), 'E') << "no address yet";
  EXPECT_EQ(Letter("address 65536\r"), 'O');
  EXPECT_EQ(Letter("move 50135552 32768\r"), 'E') << "the chunk there is another";
  EXPECT_EQ(Letter("move 50135296 32768\r"), 'O');
  std::vector<uint8_t> data(2000);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 3 + 1);
  EXPECT_EQ(Letter("transferraw 2000\r"), 'O');
  auto block = [&](size_t at, size_t n, bool spoil) {
    std::vector<uint8_t> b(data.begin() + at, data.begin() + at + n);
    uint8_t crc[4];
    PutBe32(crc, BoxCrc(b.data(), n) ^ (spoil ? 1 : 0));
    b.insert(b.end(), crc, crc + 4);
    EXPECT_TRUE(client().Write(b));
    const std::vector<uint8_t> a = client().Read(1, 1000);
    return a.empty() ? 0 : a[0];
  };
  EXPECT_EQ(block(0, 1024, true), 'E');
  EXPECT_EQ(block(0, 1024, false), 'O');
  EXPECT_EQ(block(1024, 976, false), 'O');
  ASSERT_TRUE(client().Type("burn\r"));
  const std::vector<uint8_t> burn = client().Read(1 + 7 + 1, 1000);
  EXPECT_EQ(std::string(burn.begin(), burn.end()), "OB0002KBF");
  std::vector<uint8_t> expected = BuildDefaultFlash();
  std::copy(data.begin(), data.end(), expected.begin() + 65536 + 32768);
  EXPECT_EQ(box().Flash(), expected);
}

TEST_F(LegacyBox, RefusesWhatItCannotDo) {
  BoxOptions options;
  options.faults.errorFor["address"] = 1;
  Begin(16, options);
  EXPECT_EQ(Letter("address 0\r"), 'E') << "fault error";
  EXPECT_EQ(Letter("frobnicate\r"), 'E');
  EXPECT_EQ(Letter("burn\r"), 'E') << "nothing staged";
  EXPECT_EQ(Letter("dump 0 0\r"), 'E') << "a stream box knows no range";
  EXPECT_EQ(Letter("move 1 2\r"), 'E');
}

TEST_F(LegacyBox, FailedBurnSendsEAndEightBytes) {
  BoxOptions options;
  options.faults.burnFails = true;
  Begin(33, options);
  EXPECT_EQ(Letter("address 0\r"), 'O');
  ASSERT_TRUE(client().Type("burn\r"));
  const std::vector<uint8_t> a = client().Read(1 + 9, 1000);
  EXPECT_EQ(std::string(a.begin(), a.end()), "OE00010004");
  EXPECT_EQ(box().Flash(), BuildDefaultFlash());
}

TEST_F(LegacyBox, StreamDumpBelow32) {
  Begin(16);
  ASSERT_TRUE(client().Type("dump\r"));
  const uint32_t total = Number();
  ASSERT_EQ(total, 0x100000u);
  EXPECT_TRUE(client().ReadQuiet(30).empty()) << "nothing before the tool's 'O'";
  ASSERT_TRUE(client().Write(std::string("O")));
  const std::vector<uint8_t> bytes = client().Read(total, 10000);
  EXPECT_EQ(bytes, BuildDefaultFlash());
  EXPECT_EQ(Number(), BoxCrc(bytes.data(), bytes.size()));
}

TEST_F(LegacyBox, BlockDumpAt32HasNoHeaderCrcs) {
  Begin(32);
  const std::vector<uint8_t> flash = BuildDefaultFlash();
  ASSERT_TRUE(client().Type("dump 0 0\r"));
  const uint32_t total = Number();
  ASSERT_EQ(total, flash.size());
  std::vector<uint8_t> got(total);
  int blanks = 0;
  for (uint32_t n = 0; n < total / 1024; ++n) {
    ASSERT_TRUE(client().Write(std::string("H")));
    ASSERT_EQ(Number(), n);
    ASSERT_EQ(Number(), 1024u);
    const std::vector<uint8_t> first = client().Read(12, 1000);
    ASSERT_EQ(first.size(), 12u);
    if (std::string(first.begin(), first.begin() + 8) == "BLANKPCK") {
      EXPECT_EQ(GetBe32(&first[8]), 0x8FA51470u);
      std::fill(got.begin() + n * 1024, got.begin() + n * 1024 + 1024, 0xFF);
      ++blanks;
    } else {
      std::vector<uint8_t> body = first;
      const std::vector<uint8_t> rest = client().Read(1024 - 12, 1000);
      body.insert(body.end(), rest.begin(), rest.end());
      ASSERT_EQ(body.size(), 1024u);
      ASSERT_EQ(Number(), BoxCrc(body.data(), 1024));
      std::copy(body.begin(), body.end(), got.begin() + n * 1024);
    }
    ASSERT_TRUE(AnswerBlock('O', n));
  }
  EXPECT_EQ(got, flash);
  EXPECT_GT(blanks, 50);
}

TEST_F(LegacyBox, BlockDumpFrom33ChecksHeadersAndSendsRefusedBlocksAgain) {
  Begin(33);
  const std::vector<uint8_t> flash = BuildDefaultFlash();
  // A given length: the tool knows the total, none is sent.
  ASSERT_TRUE(client().Type("dump 65664 3000\r"));
  EXPECT_TRUE(client().ReadQuiet(30).empty());
  auto header = [&](uint32_t& n, uint32_t& l) {
    EXPECT_TRUE(client().Write(std::string("H")));
    const std::vector<uint8_t> h = client().Read(16, 1000);
    EXPECT_EQ(h.size(), 16u);
    n = GetBe32(&h[0]);
    l = GetBe32(&h[4]);
    const uint8_t nLe[4] = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
    const uint8_t lLe[4] = {uint8_t(l), uint8_t(l >> 8), uint8_t(l >> 16), uint8_t(l >> 24)};
    EXPECT_EQ(GetBe32(&h[8]), BoxCrc(nLe, 4));
    EXPECT_EQ(GetBe32(&h[12]), BoxCrc(lLe, 4));
  };
  uint32_t n = 0, l = 0;
  header(n, l);
  EXPECT_EQ(n, 0u);
  // The tool found a header CRC wrong: 'H' for "again", then its next request.
  ASSERT_TRUE(client().Write(std::string("H")));
  EXPECT_TRUE(client().ReadQuiet(30).empty());
  header(n, l);
  ASSERT_EQ(n, 0u) << "the same block again";
  ASSERT_TRUE(client().Write(std::string("G")));
  std::vector<uint8_t> body = client().Read(l + 4, 1000);
  ASSERT_EQ(body.size(), 1028u);
  ASSERT_TRUE(AnswerBlock('E', 0));
  header(n, l);
  ASSERT_EQ(n, 0u) << "a refused block comes again";
  ASSERT_TRUE(client().Write(std::string("G")));
  body = client().Read(l + 4, 1000);
  EXPECT_TRUE(std::equal(body.begin(), body.begin() + 1024, flash.begin() + 65664));
  ASSERT_TRUE(AnswerBlock('O', 0));
  header(n, l);
  ASSERT_EQ(n, 1u);
  ASSERT_TRUE(client().Write(std::string("G")));
  client().Read(l + 4, 1000);
  // A garbled answer counts as a refusal.
  ASSERT_TRUE(AnswerBlock('O', 7));
  header(n, l);
  ASSERT_EQ(n, 1u);
  ASSERT_TRUE(client().Write(std::string("G")));
  client().Read(l + 4, 1000);
  ASSERT_TRUE(AnswerBlock('O', 1));
  header(n, l);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(l, 3000u - 2048);
}

TEST_F(LegacyBox, ShortTailBlockIsLongEnoughForTheToolsFirstRead) {
  Begin(32);
  const std::vector<uint8_t> flash = BuildDefaultFlash();
  ASSERT_TRUE(client().Type("dump 16 5\r"));
  EXPECT_EQ(Number(), 5u);
  ASSERT_TRUE(client().Write(std::string("H")));
  EXPECT_EQ(Number(), 0u);
  const uint32_t l = Number();
  ASSERT_EQ(l, 12u);
  const std::vector<uint8_t> body = client().Read(16, 1000);
  ASSERT_EQ(body.size(), 16u);
  EXPECT_TRUE(std::equal(body.begin(), body.begin() + 12, flash.begin() + 16));
  EXPECT_EQ(GetBe32(&body[12]), BoxCrc(body.data(), 12));
}

TEST_F(LegacyBox, DumpTotalZeroFaultAndRangeBeyondTheFlash) {
  BoxOptions options;
  options.faults.dumpTotalZero = true;
  Begin(32, options);
  ASSERT_TRUE(client().Type("dump 0 0\r"));
  EXPECT_EQ(Number(), 0u);
  ASSERT_TRUE(client().Type("dump 1048000 1000\r"));
  EXPECT_TRUE(client().ReadQuiet(50).empty()) << "no answer for a range beyond the flash";
  EXPECT_TRUE(run_->log->Has("beyond the flash"));
}

TEST_F(LegacyBox, RebootEndsTheSession) {
  Begin(32);
  EXPECT_EQ(Letter("address 0\r"), 'O');
  ASSERT_TRUE(client().Type("reboot\r"));
  EXPECT_TRUE(client().ReadQuiet(30).empty());
  ASSERT_TRUE(client().Type("version -r\r"));
  EXPECT_TRUE(client().ReadQuiet(50).empty()) << "the console waits for a handshake";
  const std::string id = "@KVO PROTOCOL 3.0+";
  EXPECT_EQ(client().Handshake(), std::vector<uint8_t>(id.begin(), id.end()));
  EXPECT_EQ(Letter("burn\r"), 'E') << "the staging copy is gone";
}

}  // namespace
}  // namespace stb::sim::test
