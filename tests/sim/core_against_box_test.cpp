// The tool's core against the emulated box, in real time on the pseudo-terminal: the
// handshake, the loader information and dumps for every loader generation, and an
// upgrade through the dispatcher.
#include <gtest/gtest.h>

#include <vector>

#include "image/chunk_table.h"
#include "link/link.h"
#include "link/port.h"
#include "link/serial_port.h"
#include "protocol/dispatcher.h"
#include "protocol/packet.h"
#include "sim_client.h"

namespace stb::sim::test {
namespace {

class CoreAgainstBox : public ::testing::Test {
 protected:
  void Connect(BoxOptions options) {
    run_ = std::make_unique<RunningBox>(std::move(options), false);
    ASSERT_TRUE(run_->started) << run_->box->LastError();
    SetActivePort(nullptr);
    SetProtocolVersion(0);
    ResetPacketCounters();
    ASSERT_EQ(GetSerialPort().OpenDevice(run_->box->SlavePath(), 115200, 0, 1), 1)
        << GetSerialPort().LastOpenError();
  }
  void TearDown() override {
    GetSerialPort().Close();
    run_.reset();
    SetProtocolVersion(0);
  }
  // The connect's first steps: handshake, then the version the box reports.
  void Handshake(uint32_t expected) {
    uint32_t v = 0;
    ASSERT_EQ(stb::Handshake(v, nullptr), 0);
    ASSERT_EQ(v, expected);
    SetProtocolVersion(v);
  }

  // A box of this protocol, synchronised, the dispatcher set to its version.
  void ConnectAndSynchronise(uint32_t protocol) {
    BoxOptions options;
    options.protocol = protocol;
    Connect(options);
    Handshake(protocol >= 0x30 ? 48 : 32);
    SetProtocolVersion(protocol);
  }

  std::unique_ptr<RunningBox> run_;
};

TEST_F(CoreAgainstBox, HandshakeAndLoaderInfoForEveryGeneration) {
  struct Case {
    uint32_t protocol;
    int64_t reported;
    uint32_t handshake;
    uint32_t version;  // as LoaderReadInfo reports it
  } cases[] = {{0x30, -1, 48, 0x30}, {0x31, -1, 48, 0x31}, {33, -1, 32, 33},
               {32, -1, 32, 0},      {16, -1, 32, 0},      {0x30, 0, 48, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "protocol " << c.protocol << " reports " << c.reported);
    BoxOptions options;
    options.protocol = c.protocol;
    options.reportVersion = c.reported;
    Connect(options);
    Handshake(c.handshake);
    uint32_t version = 0xDEAD;
    TargetChunkTable table{};
    ASSERT_EQ(LoaderReadInfo(version, table), 0) << run_->log->All();
    EXPECT_EQ(version, c.version);
    EXPECT_EQ(table.flashSize, 0x100000u);
    ASSERT_EQ(table.chunkCount, 7u);
    EXPECT_EQ(table.chunks[0].id, 0xE3000010u);
    EXPECT_EQ(table.chunks[6].id, 0x04FB0100u);
    EXPECT_EQ(table.chunks[6].nextOffset, 0u);
    EXPECT_STREQ(table.chunks[4].name, "Default DB");
    TearDown();
  }
}

TEST_F(CoreAgainstBox, DumpOfTheWholeFlashEqualsTheFlash) {
  // The packet dump and the three legacy dumps: stream, blocks, blocks with header CRCs.
  for (uint32_t protocol : {0x30u, 16u, 32u, 33u}) {
    SCOPED_TRACE(::testing::Message() << "protocol " << protocol);
    ConnectAndSynchronise(protocol);
    std::vector<uint8_t> buffer(0x200000);
    int32_t total = 0;
    ASSERT_EQ(LoaderDump(buffer.data(), total, nullptr, nullptr, 0, 0), 0) << run_->log->All();
    const std::vector<uint8_t> flash = run_->box->Flash();
    ASSERT_EQ(total, static_cast<int32_t>(flash.size()));
    EXPECT_TRUE(std::equal(flash.begin(), flash.end(), buffer.begin()));
    TearDown();
  }
}

TEST_F(CoreAgainstBox, DumpOfOneChunkWithTheToolsRange) {
  for (uint32_t protocol : {0x30u, 33u}) {
    SCOPED_TRACE(::testing::Message() << "protocol " << protocol);
    ConnectAndSynchronise(protocol);
    uint32_t version = 0;
    TargetChunkTable table{};
    ASSERT_EQ(LoaderReadInfo(version, table), 0);
    uint32_t start = 0, size = 0;
    ASSERT_TRUE(ChunkFlashRange(table, 5, start, size));
    std::vector<uint8_t> buffer(0x200000);
    int32_t total = 0;
    ASSERT_EQ(LoaderDump(buffer.data(), total, nullptr, nullptr, start, size), 0);
    ASSERT_EQ(total, static_cast<int32_t>(size));
    const std::vector<uint8_t> flash = run_->box->Flash();
    EXPECT_TRUE(std::equal(flash.begin() + start, flash.begin() + start + size, buffer.begin()));
    TearDown();
  }
}

TEST_F(CoreAgainstBox, UpgradeThroughTheDispatcherReachesTheFlash) {
  // Packet box (compressed when the tool's encoder works) and legacy box (raw blocks).
  for (uint32_t protocol : {0x30u, 32u}) {
    SCOPED_TRACE(::testing::Message() << "protocol " << protocol);
    ConnectAndSynchronise(protocol);
    // New contents for the three logos, passing over the boot loader with a move.
    std::vector<uint8_t> logos(0x18000, 0xFF);
    const std::vector<uint8_t> flash = BuildDefaultFlash();
    std::copy(flash.begin() + 0x10000, flash.begin() + 0x28000, logos.begin());
    for (size_t i = 0x200; i < 0x3000; ++i) logos[i] = static_cast<uint8_t>(i / 3);
    std::vector<uint8_t> sent = logos;  // the download may compress it in place
    ASSERT_EQ(LoaderSetAddress(0), 0);
    ASSERT_EQ(LoaderMove(0xE3000010, 0x10000), 0);
    ASSERT_EQ(LoaderDownload(sent.data(), static_cast<int32_t>(sent.size()), nullptr, nullptr), 0)
        << run_->log->All();
    ASSERT_EQ(LoaderBurn(static_cast<int32_t>(logos.size()), nullptr), 0) << run_->log->All();
    EXPECT_EQ(LoaderReboot(), 0);
    std::vector<uint8_t> expected = flash;
    std::copy(logos.begin(), logos.end(), expected.begin() + 0x10000);
    EXPECT_EQ(run_->box->Flash(), expected);
    EXPECT_EQ(run_->box->Stats().burns, 1u);
    // The tool's in-process encoder writes .lzma data the box takes.
    if (protocol >= 0x30) {
      EXPECT_TRUE(run_->log->Has("(unpacked)")) << run_->log->All();
    }
    TearDown();
  }
}

}  // namespace
}  // namespace stb::sim::test
