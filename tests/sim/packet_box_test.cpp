// The packet box on a real pseudo-terminal, driven byte for byte: handshake, replies
// with the command's sequence, repeats answered once, faults, bulk transfers, burn.
#include <gtest/gtest.h>
#include <lzma.h>

#include <chrono>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "sim/box_codes.h"
#include "sim/box_crc.h"
#include "sim_client.h"

namespace stb::sim::test {
namespace {

const std::string kId = "@KVO PROTOCOL 3.0+";

std::vector<uint8_t> Complement(const std::string& text) {
  std::vector<uint8_t> out;
  for (char c : text) out.push_back(static_cast<uint8_t>(~static_cast<uint8_t>(c)));
  return out;
}

class PacketBox : public ::testing::Test {
 protected:
  // A packet box with these options, already past its handshake.
  void Begin(BoxOptions options = {}) {
    run_ = std::make_unique<RunningBox>(std::move(options));
    ASSERT_TRUE(run_->started) << run_->box->LastError();
    ASSERT_EQ(client().Handshake(), Complement(kId));
  }
  SimClient& client() { return run_->client; }
  BoxSimulator& box() { return *run_->box; }

  // Sends a new command and returns its one reply.
  BoxPacket Command(const std::string& text, uint8_t retry = 0) {
    if (retry == 0) ++sequence_;
    EXPECT_TRUE(client().SendCommand(sequence_, retry, text));
    BoxPacket reply;
    EXPECT_EQ(client().Receive(reply), FrameResult::Ok) << text;
    EXPECT_EQ(reply.sequence, sequence_) << text;
    return reply;
  }
  void ExpectStatus(const BoxPacket& p, BoxStatus status, uint32_t value, const std::string& what) {
    EXPECT_EQ(p.type, uint8_t(BoxPacketType::Status)) << what;
    EXPECT_EQ(StatusOf(p), uint8_t(status)) << what;
    EXPECT_EQ(ValueOf(p), value) << what;
  }
  BoxPacket Ask(BoxPacket request) {
    request.sequence = sequence_;
    EXPECT_TRUE(client().Send(request));
    BoxPacket reply;
    EXPECT_EQ(client().Receive(reply), FrameResult::Ok);
    return reply;
  }
  BoxPacket Request(uint32_t number) {
    BoxPacket r = MakeDataPacket(0, 0, number, nullptr, 0);
    r.type = uint8_t(BoxPacketType::Request);
    return Ask(r);
  }
  BoxPacket Data(uint32_t number, const std::vector<uint8_t>& bytes) {
    return Ask(MakeDataPacket(0, 0, number, bytes.data(), bytes.size()));
  }
  // Burns; returns the markers of the progress packets ("B0001", ..., "F").
  std::vector<std::string> Burn() {
    ExpectStatus(Command("burn\r"), BoxStatus::Ack, 0, "burn");
    std::vector<std::string> markers;
    for (;;) {
      BoxPacket p;
      if (client().Receive(p, 2000) != FrameResult::Ok) break;
      EXPECT_EQ(p.sequence, sequence_);
      markers.emplace_back(p.payload.begin() + 4, p.payload.end());
      if (markers.back() == "F" || markers.back() == "E") break;
    }
    return markers;
  }

  std::unique_ptr<RunningBox> run_;
  uint32_t sequence_ = 0;
};

TEST(BoxHandshake, AnswersAsItsGeneration) {
  struct Case {
    uint32_t protocol;
    bool complement;
  } cases[] = {{0x30, true}, {0x31, true}, {33, false}, {32, false}, {16, false}};
  for (const Case& c : cases) {
    BoxOptions options;
    options.protocol = c.protocol;
    RunningBox run(options);
    ASSERT_TRUE(run.started) << run.box->LastError();
    // Before the handshake the console echoes and ignores what it gets.
    ASSERT_TRUE(run.client.Type("version\r")) << c.protocol;
    EXPECT_TRUE(run.client.ReadQuiet(50).empty()) << c.protocol;
    const std::vector<uint8_t> expected =
        c.complement ? Complement(kId) : std::vector<uint8_t>(kId.begin(), kId.end());
    EXPECT_EQ(run.client.Handshake(), expected) << c.protocol;
    EXPECT_EQ(run.box->Stats().handshakes, 1u);
  }
}

TEST(BoxHandshake, LeavesAWrongIdentificationUnanswered) {
  RunningBox run(BoxOptions{});
  ASSERT_TRUE(run.started);
  ASSERT_TRUE(run.client.Type("comtest 18\r"));
  ASSERT_TRUE(run.client.Write(std::string("@KVO PROTOCOL 2.0+")));
  EXPECT_TRUE(run.client.ReadQuiet(100).empty());
  ASSERT_TRUE(run.client.Type("comtest 5\r"));
  ASSERT_TRUE(run.client.Write(std::string("@KVO ")));
  EXPECT_TRUE(run.client.ReadQuiet(100).empty());
  EXPECT_EQ(run.client.Handshake(), Complement(kId)) << "the next proper attempt works";
  EXPECT_TRUE(run.log->Has("no answer"));
}

TEST(BoxHandshake, NoHandshakeFaultEchoesButNeverAnswers) {
  BoxOptions options;
  options.faults.silentHandshake = true;
  RunningBox run(options);
  ASSERT_TRUE(run.started);
  EXPECT_TRUE(run.client.Type("comtest 18\r"));
  ASSERT_TRUE(run.client.Write(kId));
  EXPECT_TRUE(run.client.ReadQuiet(100).empty());
  EXPECT_TRUE(run.log->Has("fault no-handshake"));
}

TEST(BoxLine, ServesBeforeBetweenAndAfterTheToolsOpens) {
  RunningBox run(BoxOptions{}, false);
  ASSERT_TRUE(run.started);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // nobody on the slave yet
  for (int open = 0; open < 3; ++open) {
    SimClient client;
    ASSERT_TRUE(client.Open(run.box->SlavePath()));
    EXPECT_EQ(client.Handshake(), Complement(kId)) << open;
  }
  EXPECT_EQ(run.box->Stats().handshakes, 3u);
}

TEST(BoxLine, StopsAtOnceWhileNobodyReadsItsOutput) {
  BoxOptions options;
  options.protocol = 16;
  RunningBox run(options);
  ASSERT_TRUE(run.started);
  ASSERT_EQ(run.client.Handshake().size(), 18u);
  ASSERT_TRUE(run.client.Type("dump\r"));
  ASSERT_EQ(run.client.Read(4, 500).size(), 4u);
  ASSERT_TRUE(run.client.Write(std::string("O")));
  // The box now streams a megabyte into a line nobody reads; Stop must not wait for it.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  run.box->Stop();
  EXPECT_FALSE(run.box->Running());
  EXPECT_TRUE(run.log->Has("stream dump ends after")) << run.log->All();
}

TEST(BoxLine, SurvivesAStormOfGarbageInEitherGeneration) {
  for (uint32_t protocol : {0x30u, 33u, 16u}) {
    BoxOptions options;
    options.protocol = protocol;
    RunningBox run(options);
    ASSERT_TRUE(run.started);
    ASSERT_EQ(run.client.Handshake().size(), 18u);
    std::mt19937 rng(protocol);
    for (int round = 0; round < 40; ++round) {
      std::vector<uint8_t> junk(rng() % 300);
      for (uint8_t& b : junk) b = static_cast<uint8_t>(rng());
      if (round % 3 == 0) junk.insert(junk.begin(), {'H', 'E', 'A', 'D'});
      ASSERT_TRUE(run.client.Write(junk));
      run.client.ReadQuiet(5);
    }
    run.client.ReadQuiet(600);
    // Whatever the garbage did, the line ends and a new handshake is answered.
    ASSERT_TRUE(run.client.Write(std::string("\r")));
    run.client.ReadQuiet(50);
    EXPECT_EQ(run.client.Handshake().size(), 18u) << protocol;
    EXPECT_TRUE(run.box->Running());
  }
}

TEST(BoxLine, RandomCorruptionChangesWhatTheBoxSends) {
  BoxOptions options;
  options.faults.corruptFraction = 1.0;
  RunningBox run(options);
  ASSERT_TRUE(run.started);
  ASSERT_TRUE(run.client.Write(std::string("comtest")));
  const std::vector<uint8_t> echo = run.client.Read(7, 500);
  ASSERT_EQ(echo.size(), 7u);
  for (size_t i = 0; i < 7; ++i) EXPECT_NE(echo[i], uint8_t("comtest"[i])) << i;
  EXPECT_TRUE(run.log->Has("fault corrupt-random"));
}

TEST_F(PacketBox, ReportsItsVersionAndChunkTable) {
  BoxOptions options;
  options.protocol = 0x31;
  Begin(options);
  const BoxPacket version = Command("version\r");
  ASSERT_EQ(version.type, uint8_t(BoxPacketType::Data));
  ASSERT_EQ(version.length, 8u);
  EXPECT_EQ(GetBe32(&version.payload[0]), 0u);
  EXPECT_EQ(GetBe32(&version.payload[4]), 0x31u);
  const BoxPacket chunk = Command("chunk\r");
  ASSERT_EQ(chunk.length, 4u + 2 + 7 * 128);
  const std::vector<uint8_t> flash = BuildDefaultFlash();
  EXPECT_EQ(chunk.payload[4], 3);
  EXPECT_TRUE(std::equal(flash.begin(), flash.begin() + 128, chunk.payload.begin() + 6));
}

TEST_F(PacketBox, ReportsTheVersionItIsGiven) {
  BoxOptions options;
  options.reportVersion = 0;
  Begin(options);
  EXPECT_EQ(GetBe32(&Command("version\r").payload[4]), 0u);
}

TEST_F(PacketBox, RunsARepeatedCommandOnceAndSendsItsReplyAgain) {
  Begin();
  ExpectStatus(Command("address 0\r"), BoxStatus::Ack, 0, "address");
  ExpectStatus(Command("move 3808428048 65536\r"), BoxStatus::Ack, 0, "move");
  const uint32_t executed = box().Stats().commandsExecuted;
  // The tool lost the Ack and repeats: the box must not move a second time.
  ExpectStatus(Command("move 3808428048 65536\r", 1), BoxStatus::Ack, 0, "repeat");
  ExpectStatus(Command("move 3808428048 65536\r", 2), BoxStatus::Ack, 0, "repeat");
  EXPECT_EQ(box().Stats().commandsExecuted, executed);
  EXPECT_EQ(box().Stats().repeatsAnswered, 2u);
  // The write position is where one move left it: at the first logo.
  ExpectStatus(Command("move 50135296 32768\r"), BoxStatus::Ack, 0, "next move");
  EXPECT_TRUE(run_->log->Has("repeat, 1 kept reply sent again"));
}

TEST_F(PacketBox, DroppedAndCorruptedRepliesComeRightOnTheRepeat) {
  BoxOptions options;
  options.faults.dropReply = {1};
  options.faults.corruptHeaderCrc = {2};
  options.faults.corruptPayloadCrc = {3};
  Begin(options);
  ASSERT_TRUE(client().SendCommand(1, 0, "version\r"));
  BoxPacket p;
  EXPECT_EQ(client().Receive(p, 300), FrameResult::Short) << "reply 1 dropped";
  ASSERT_TRUE(client().SendCommand(1, 1, "version\r"));
  EXPECT_EQ(client().Receive(p), FrameResult::BadHeaderCrc);
  client().ReadQuiet(50);
  ASSERT_TRUE(client().SendCommand(1, 2, "version\r"));
  EXPECT_EQ(client().Receive(p), FrameResult::BadPayloadCrc);
  client().ReadQuiet(50);
  ASSERT_TRUE(client().SendCommand(1, 3, "version\r"));
  ASSERT_EQ(client().Receive(p), FrameResult::Ok);
  EXPECT_EQ(GetBe32(&p.payload[4]), 0x30u);
  EXPECT_EQ(box().Stats().commandsExecuted, 1u);
  EXPECT_EQ(box().Stats().repeatsAnswered, 3u);
}

TEST_F(PacketBox, NoiseComesBeforeEveryPacket) {
  BoxOptions options;
  options.faults.noiseBytes = 16;
  Begin(options);
  ASSERT_TRUE(client().SendCommand(1, 0, "version\r"));
  const std::vector<uint8_t> raw = client().Read(16 + 31, 1000);
  ASSERT_EQ(raw.size(), 47u);
  EXPECT_EQ(std::string(raw.begin() + 16, raw.begin() + 20), "HEAD");
  BoxPacket p;
  size_t used = 0;
  EXPECT_EQ(DecodeBoxPacket(raw.data() + 16, 31, p, used), FrameResult::Ok);
}

TEST_F(PacketBox, BadInputNeverStopsIt) {
  Begin();
  // Garbage, a lone "HEAD", a half header.
  ASSERT_TRUE(client().Write(std::string("\x01\x02HHxHEA\xFFHEAD")));
  ASSERT_TRUE(client().Write(std::string("HEAD\x00\x00\x00", 7)));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  client().ReadQuiet(50);  // echoes of the garbage
  // A header with a wrong CRC: dropped without an answer.
  BoxPacket cmd;
  cmd.type = 0;
  cmd.sequence = 9;
  cmd.length = 8;
  cmd.payload.assign({'v', 'e', 'r', 's', 'i', 'o', 'n', '\r'});
  std::vector<uint8_t> wire = EncodeBoxPacket(cmd);
  wire[17] ^= 1;
  ASSERT_TRUE(client().Write(wire));
  BoxPacket p;
  EXPECT_EQ(client().Receive(p, 200), FrameResult::Short);
  // A wrong payload CRC: the loader says so with the header's sequence.
  wire = EncodeBoxPacket(cmd);
  wire[25] ^= 1;
  ASSERT_TRUE(client().Write(wire));
  ASSERT_EQ(client().Receive(p), FrameResult::Ok);
  ExpectStatus(p, BoxStatus::Error, kBoxDataCrc, "payload CRC");
  EXPECT_EQ(p.sequence, 9u);
  // A sound header announcing more than a packet holds.
  BoxPacket big;
  big.sequence = 10;
  big.length = 3000;
  std::vector<uint8_t> header(19);
  EncodeBoxHeader(big, header.data());
  ASSERT_TRUE(client().Write(header));
  ASSERT_TRUE(client().Write(std::vector<uint8_t>(3004, 0x33)));
  ASSERT_EQ(client().Receive(p, 3000), FrameResult::Ok);
  ExpectStatus(p, BoxStatus::Error, kBoxReceiveData, "too long");
  // Still serving.
  sequence_ = 10;
  EXPECT_EQ(GetBe32(&Command("version\r").payload[4]), 0x30u);
  EXPECT_GE(box().Stats().framingErrors, 4u);
  EXPECT_TRUE(run_->log->Has("header CRC wrong"));
  EXPECT_TRUE(run_->log->Has("half packet"));
}

TEST_F(PacketBox, AnswersBadCommandsWithTheLoadersCodes) {
  BoxOptions options;
  options.faults.errorFor["chunk"] = 0x10005;
  Begin(options);
  struct Case {
    const char* text;
    uint32_t value;
  } cases[] = {
      {"frobnicate\r", kBoxUnknownCommand},
      {"address\r", kBoxParameter},
      {"address 12x\r", kBoxParameter},
      {"address 4294967296\r", kBoxParameter},
      {"move 1\r", kBoxParameter},
      {"transfer 100\r", kBoxAddressNotSet},
      {"move 3808428048 65536\r", kBoxAddressNotSet},
      {"burn\r", kBoxCannotBurn},
      {"dump 0 2097152\r", kBoxAddressOverflow},
      {"address 1048577\r", kBoxAddressOverflow},
      {"chunk\r", 0x10005},
      {"transfer -5\r", kBoxParameter},
  };
  for (const Case& c : cases) ExpectStatus(Command(c.text), BoxStatus::Error, c.value, c.text);
  ExpectStatus(Command("address 1048000\r"), BoxStatus::Ack, 0, "address");
  ExpectStatus(Command("transfer 1000\r"), BoxStatus::Error, kBoxAddressOverflow, "too big");
  ExpectStatus(Command("move 3808428048 65536\r"), BoxStatus::Error, kBoxCodeNotFound, "no chunk");
  ExpectStatus(Command("transfer -z 100 5\r"), BoxStatus::Error, kBoxParameter, "no header");
}

TEST_F(PacketBox, DumpsTheFlashInNumberedPacketsWithBlankRuns) {
  Begin();
  const std::vector<uint8_t> flash = BuildDefaultFlash();
  ExpectStatus(Command("dump 0 0\r"), BoxStatus::Ack, 0, "dump");
  BoxPacket p = Request(0);
  ASSERT_EQ(p.type, uint8_t(BoxPacketType::Data));
  EXPECT_EQ(GetBe32(&p.payload[0]), 0u);
  const uint32_t total = GetBe32(&p.payload[4]);
  ASSERT_EQ(total, flash.size());
  std::vector<uint8_t> got;
  int blanks = 0;
  for (uint32_t n = 1; got.size() < total; ++n) {
    p = Request(n);
    ASSERT_EQ(p.type, uint8_t(BoxPacketType::Data)) << n;
    ASSERT_EQ(GetBe32(&p.payload[0]), n);
    ASSERT_LE(p.length, 2044u);
    blanks += p.blank != 0;
    got.insert(got.end(), p.payload.begin() + 4, p.payload.end());
  }
  EXPECT_EQ(got, flash);
  EXPECT_GT(blanks, 100) << "erased runs travel blank";
  ExpectStatus(Request(9999), BoxStatus::Done, 0, "behind the end");
  // A request of another sequence is not part of this dump.
  BoxPacket foreign = MakeDataPacket(sequence_ + 5, 0, 1, nullptr, 0);
  foreign.type = uint8_t(BoxPacketType::Request);
  ASSERT_TRUE(client().Send(foreign));
  EXPECT_EQ(client().Receive(p, 200), FrameResult::Short);
}

TEST_F(PacketBox, DumpsARangeInPacketsOfTheChosenSize) {
  BoxOptions options;
  options.dumpPacket = 100;
  Begin(options);
  const std::vector<uint8_t> flash = BuildDefaultFlash();
  ExpectStatus(Command("dump 65664 250\r"), BoxStatus::Ack, 0, "dump");
  EXPECT_EQ(GetBe32(&Request(0).payload[4]), 250u);
  std::vector<uint8_t> got;
  for (uint32_t n = 1; n <= 3; ++n) {
    const BoxPacket p = Request(n);
    EXPECT_EQ(p.length, 4u + (n < 3 ? 100 : 50));
    got.insert(got.end(), p.payload.begin() + 4, p.payload.end());
  }
  EXPECT_EQ(got, std::vector<uint8_t>(flash.begin() + 65664, flash.begin() + 65664 + 250));
  // The tool's Abort ends the dump: later requests go unanswered.
  ASSERT_TRUE(client().SendStatus(sequence_, BoxStatus::Abort, 0));
  BoxPacket r = MakeDataPacket(sequence_, 0, 1, nullptr, 0);
  r.type = uint8_t(BoxPacketType::Request);
  ASSERT_TRUE(client().Send(r));
  BoxPacket p;
  EXPECT_EQ(client().Receive(p, 200), FrameResult::Short);
  EXPECT_TRUE(run_->log->Has("aborted by the tool"));
}

TEST_F(PacketBox, DumpFaults) {
  BoxOptions options;
  options.faults.dumpTotalZero = true;
  options.faults.dumpDoneAt = 2;
  options.faults.dumpWrongNumberAt = 3;
  Begin(options);
  ExpectStatus(Command("dump 0 0\r"), BoxStatus::Ack, 0, "dump");
  EXPECT_EQ(GetBe32(&Request(0).payload[4]), 0u);
  EXPECT_EQ(GetBe32(&Request(1).payload[0]), 1u);
  ExpectStatus(Request(2), BoxStatus::Done, 0, "dump-done");
  EXPECT_EQ(GetBe32(&Request(3).payload[0]), 2u) << "wrong number, once";
  EXPECT_EQ(GetBe32(&Request(3).payload[0]), 3u);
}

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(seed + i * 13 + i / 7);
  return out;
}

TEST_F(PacketBox, DownloadsBurnsAndSavesTheFlash) {
  char dir[] = "/tmp/stb-sim-save-XXXXXX";
  ASSERT_NE(mkdtemp(dir), nullptr);
  const std::string save = std::string(dir) + "/flash.bin";
  BoxOptions options;
  options.saveFlashFile = save;
  Begin(options);
  const std::vector<uint8_t> logo = Pattern(0x8000, 3);
  ExpectStatus(Command("address 65536\r"), BoxStatus::Ack, 0, "address");
  ExpectStatus(Command("transfer 32768\r"), BoxStatus::Ack, 0, "transfer");
  auto part = [&](uint32_t n) {
    return std::vector<uint8_t>(logo.begin() + (n - 1) * 1024, logo.begin() + n * 1024);
  };
  ExpectStatus(Data(1, part(1)), BoxStatus::Ack, 1, "packet 1");
  ExpectStatus(Data(1, part(1)), BoxStatus::Ack, 1, "packet 1 again: held, not taken twice");
  ExpectStatus(Data(3, part(3)), BoxStatus::Ack, 1, "out of order");
  ExpectStatus(Request(2), BoxStatus::Ack, 1, "query: holds 1");
  ExpectStatus(Request(1), BoxStatus::Ack, 1, "query: holds 1");
  for (uint32_t n = 2; n <= 32; ++n) ExpectStatus(Data(n, part(n)), BoxStatus::Ack, n, "data");
  EXPECT_EQ(box().Flash(), BuildDefaultFlash()) << "nothing burnt yet";
  ExpectStatus(Command("move 50135552 32768\r"), BoxStatus::Ack, 0, "the next logo is kept");
  EXPECT_EQ(Burn(), (std::vector<std::string>{"B0032", "F"}));
  std::vector<uint8_t> expected = BuildDefaultFlash();
  std::copy(logo.begin(), logo.end(), expected.begin() + 65536);
  EXPECT_EQ(box().Flash(), expected);
  std::ifstream in(save, std::ios::binary);
  EXPECT_EQ(std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {}), expected);
  EXPECT_EQ(box().Stats().burns, 1u);
  std::remove(save.c_str());
  ::rmdir(dir);
}

TEST_F(PacketBox, TransferAbandonedByANewCommandWritesNothing) {
  Begin();
  ExpectStatus(Command("address 65536\r"), BoxStatus::Ack, 0, "address");
  ExpectStatus(Command("transfer 2048\r"), BoxStatus::Ack, 0, "transfer");
  ExpectStatus(Data(1, Pattern(1024, 1)), BoxStatus::Ack, 1, "packet 1");
  ExpectStatus(Command("address 65536\r"), BoxStatus::Ack, 0, "address again");
  EXPECT_EQ(Burn().back(), "F");
  EXPECT_EQ(box().Flash(), BuildDefaultFlash());
  EXPECT_TRUE(run_->log->Has("abandoned after 1024 of 2048 bytes"));
}

// .lzma data as the tool's encoder writes it: header with the known size, raw LZMA1.
std::vector<uint8_t> Lzma(const std::vector<uint8_t>& plain) {
  lzma_options_lzma opt;
  lzma_lzma_preset(&opt, 6);
  opt.lc = 0;
  opt.lp = 2;
  opt.ext_flags = 0;
  opt.ext_size_low = static_cast<uint32_t>(plain.size());
  opt.ext_size_high = 0;
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream s = LZMA_STREAM_INIT;
  EXPECT_EQ(lzma_raw_encoder(&s, filters), LZMA_OK);
  std::vector<uint8_t> out(13 + plain.size() + 4096);
  s.next_in = plain.data();
  s.avail_in = plain.size();
  s.next_out = out.data() + 13;
  s.avail_out = out.size() - 13;
  while (lzma_code(&s, LZMA_FINISH) == LZMA_OK) {
  }
  out.resize(13 + s.total_out);
  lzma_end(&s);
  out[0] = (2 * 5 + 2) * 9;
  for (int i = 0; i < 4; ++i) out[1 + i] = static_cast<uint8_t>(opt.dict_size >> (8 * i));
  for (int i = 0; i < 8; ++i) out[5 + i] = static_cast<uint8_t>(uint64_t{plain.size()} >> (8 * i));
  return out;
}

TEST_F(PacketBox, UnpacksACompressedDownload) {
  Begin();
  std::vector<uint8_t> logos(0x18000, 0x42);
  for (size_t i = 0; i < logos.size(); i += 700) logos[i] = static_cast<uint8_t>(i);
  const std::vector<uint8_t> packed = Lzma(logos);
  ASSERT_LT(packed.size(), logos.size());
  ExpectStatus(Command("address 65536\r"), BoxStatus::Ack, 0, "address");
  ExpectStatus(Command("transfer -z " + std::to_string(logos.size()) + " " +
                       std::to_string(packed.size()) + "\r"),
               BoxStatus::Ack, 0, "transfer -z");
  uint32_t n = 1;
  for (size_t at = 0; at < packed.size(); at += 1024, ++n) {
    const size_t k = std::min<size_t>(1024, packed.size() - at);
    ExpectStatus(Data(n, std::vector<uint8_t>(packed.begin() + at, packed.begin() + at + k)),
                 BoxStatus::Ack, n, "packed data");
  }
  EXPECT_EQ(Burn().back(), "F");
  std::vector<uint8_t> expected = BuildDefaultFlash();
  std::copy(logos.begin(), logos.end(), expected.begin() + 65536);
  EXPECT_EQ(box().Flash(), expected);
}

TEST_F(PacketBox, AnswersABadStreamWithError34AndWritesNothing) {
  Begin();
  const std::vector<uint8_t> plain = Pattern(3000, 9);
  std::vector<uint8_t> packed = Lzma(plain);
  struct Case {
    const char* what;
    uint32_t announced;
    bool corrupt;
  } cases[] = {{"plain size differs from the header", 2999, false}, {"corrupt stream", 3000, true}};
  for (const Case& c : cases) {
    std::vector<uint8_t> bytes = packed;
    if (c.corrupt) bytes[bytes.size() / 2] ^= 0x5A;
    ExpectStatus(Command("address 65536\r"), BoxStatus::Ack, 0, c.what);
    ExpectStatus(Command("transfer -z " + std::to_string(c.announced) + " " +
                         std::to_string(bytes.size()) + "\r"),
                 BoxStatus::Ack, 0, c.what);
    ASSERT_LE(bytes.size(), 1024u);
    ExpectStatus(Data(1, bytes), BoxStatus::Error, kBoxCompressError, c.what);
    ExpectStatus(Request(1), BoxStatus::Error, kBoxCompressError, c.what);
  }
  // More data than announced is refused as well.
  ExpectStatus(Command("transfer 10\r"), BoxStatus::Ack, 0, "transfer");
  ExpectStatus(Data(1, Pattern(11, 0)), BoxStatus::Error, kBoxNoBuffer, "too much");
  EXPECT_EQ(Burn().back(), "F");
  EXPECT_EQ(box().Flash(), BuildDefaultFlash());
  EXPECT_TRUE(run_->log->Has("compressed download rejected"));
}

TEST_F(PacketBox, FailedBurnLeavesTheFlash) {
  BoxOptions options;
  options.faults.burnFails = true;
  Begin(options);
  ExpectStatus(Command("address 0\r"), BoxStatus::Ack, 0, "address");
  ExpectStatus(Command("transfer 204800\r"), BoxStatus::Ack, 0, "transfer");
  const std::vector<uint8_t> block(1024, 0);
  for (uint32_t n = 1; n <= 200; ++n) ExpectStatus(Data(n, block), BoxStatus::Ack, n, "data");
  EXPECT_EQ(Burn(), (std::vector<std::string>{"B0064", "E"}));
  EXPECT_EQ(box().Flash(), BuildDefaultFlash());
  EXPECT_EQ(box().Stats().burns, 0u);
}

TEST_F(PacketBox, RebootEndsTheSession) {
  Begin();
  ExpectStatus(Command("address 0\r"), BoxStatus::Ack, 0, "address");
  ExpectStatus(Command("reboot\r"), BoxStatus::Ack, 0, "reboot");
  // The console is back: a packet is only typed text to it now, echoed and not run.
  BoxPacket burn;
  burn.sequence = ++sequence_;
  burn.length = 5;
  burn.payload.assign({'b', 'u', 'r', 'n', '\r'});
  ASSERT_TRUE(client().Send(burn));
  EXPECT_EQ(client().ReadQuiet(100), EncodeBoxPacket(burn));
  // The packet's tail still stands in the console's line; the handshake works anyway.
  EXPECT_EQ(client().Handshake(), Complement(kId));
  ExpectStatus(Command("burn\r"), BoxStatus::Error, kBoxCannotBurn, "staging gone");
  EXPECT_EQ(box().Stats().reboots, 1u);
}

TEST_F(PacketBox, PacedAtTheLineRate) {
  BoxOptions options;
  options.baud = 9600;
  Begin(options);
  // 31 bytes of command and 31 of reply take at least 64 ms at 9600 baud.
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(GetBe32(&Command("version\r").payload[4]), 0x30u);
  const auto spent = std::chrono::steady_clock::now() - t0;
  EXPECT_GE(spent, std::chrono::milliseconds(60));
}

}  // namespace
}  // namespace stb::sim::test
