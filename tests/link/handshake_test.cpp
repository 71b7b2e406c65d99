// Link primitives and the handshake: against a scripted box on a real
// pseudo-terminal (real clock), and on the in-memory port with the virtual clock.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "context/error_table.h"
#include "context/upgrade_context.h"
#include "link/link.h"
#include "link/port.h"
#include "link/serial_port.h"
#include "memory_port.h"
#include "pty_pair.h"
#include "virtual_clock.h"

namespace stb {
namespace {

const std::string kId = "@KVO PROTOCOL 3.0+";
const std::string kCommand = "comtest 18\r";

std::string Complement(const std::string& s) {
  std::string out = s;
  for (char& c : out) c = static_cast<char>(~static_cast<uint8_t>(c));
  return out;
}

int Never() {
  return 0;
}
int sinkCalls = 0;
void CountingSink(uint32_t, const char*, ...) {
  ++sinkCalls;
}
int Always() {
  return 1;
}

TEST(LinkConstants, IdentificationCommandAndVersionTexts) {
  EXPECT_EQ(std::string(ProtocolIdString), kId);
  EXPECT_EQ(std::strlen(ProtocolIdString), 18u);
  EXPECT_EQ(static_cast<int>(kId.size()), kProtocolIdLength);
  for (size_t i = 18; i < 256; ++i) ASSERT_EQ(ProtocolIdString[i], '\0');
  EXPECT_EQ(std::string(SynchronisationCommand()), kCommand);
  EXPECT_EQ(std::strlen(SynchronisationCommand()), 11u);
  EXPECT_EQ(std::string(GetLinkVersion()), "V.2B  ");
}

TEST(LinkConstants, ProtocolVersionAndLogSinkAreStored) {
  SetProtocolVersion(48);
  EXPECT_EQ(CurrentProtocolVersion(), 48u);
  SetProtocolVersion(0);
  EXPECT_EQ(CurrentProtocolVersion(), 0u);
  sinkCalls = 0;
  SetLogSink(&CountingSink);
  EXPECT_EQ(LogSink(), &CountingSink);
  STB_LOG(0, "x %u", 1u);
  SetLogSink(nullptr);
  STB_LOG(0, "y");
  EXPECT_EQ(sinkCalls, 1);
}

// --- the scripted box on a real pty -------------------------------------------------

// Plays the box's loader on the master end: echoes the synchronisation command byte
// by byte, then answers each 18-byte identification with answers[attempt] (the last
// one again when it runs out).
class ScriptedBox {
 public:
  ScriptedBox(test::PtyPair& pty, std::vector<std::string> answers)
      : pty_(pty), answers_(std::move(answers)), thread_([this] { Run(); }) {}
  ~ScriptedBox() {
    stop_ = true;
    thread_.join();
  }
  int Identifications() const { return identifications_.load(); }

 private:
  void Run() {
    std::string line;
    std::string id;
    bool inId = false;
    while (!stop_) {
      struct pollfd p {
        pty_.Master(), POLLIN, 0
      };
      if (::poll(&p, 1, 5) <= 0) continue;
      uint8_t b = 0;
      if (::read(pty_.Master(), &b, 1) != 1) continue;
      if (!inId) {
        pty_.Write(std::string(1, static_cast<char>(b)));  // echo
        line += static_cast<char>(b);
        if (b == '\r') {
          inId = line.size() >= kCommand.size() &&
                 line.compare(line.size() - kCommand.size(), kCommand.size(), kCommand) == 0;
          line.clear();
        }
        continue;
      }
      id += static_cast<char>(b);
      if (id.size() < kId.size()) continue;
      const int n = identifications_++;
      if (id == kId) {
        pty_.Write(answers_[std::min<size_t>(static_cast<size_t>(n), answers_.size() - 1)]);
      }
      id.clear();
      inId = false;
    }
  }

  test::PtyPair& pty_;
  std::vector<std::string> answers_;
  std::atomic<bool> stop_{false};
  std::atomic<int> identifications_{0};
  std::thread thread_;
};

class HandshakeOnPtyTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.Ok());
    SetActivePort(nullptr);
    GetSerialSettings().Device = pty_.SlavePath();
    ASSERT_EQ(PortOpen(1, 115200, 2, 1), 0) << ActivePort().LastOpenError();
  }
  void TearDown() override {
    PortClose();
    GetSerialSettings() = SerialSettings{};
  }
  test::PtyPair pty_;
};

TEST_F(HandshakeOnPtyTest, EchoedIdentificationGivesVersion32) {
  ScriptedBox box(pty_, {kId});
  uint32_t version = 0;
  EXPECT_EQ(Handshake(version, &Never), 0);
  EXPECT_EQ(version, 32u);
  EXPECT_EQ(box.Identifications(), 1);
}

TEST_F(HandshakeOnPtyTest, ComplementedIdentificationGivesVersion48) {
  ScriptedBox box(pty_, {Complement(kId)});
  uint32_t version = 0;
  EXPECT_EQ(Handshake(version, &Never), 0);
  EXPECT_EQ(version, 48u);
}

TEST_F(HandshakeOnPtyTest, OneWrongByteOfTheComplementIsRefusedAndTheNextAttemptFollows) {
  std::string almost = Complement(kId);
  almost[7] = static_cast<char>(almost[7] ^ 0x01);
  ScriptedBox box(pty_, {almost, Complement(kId)});
  uint32_t version = 0;
  const auto t0 = std::chrono::steady_clock::now();
  EXPECT_EQ(Handshake(version, &Never), 0);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0)
          .count();
  EXPECT_EQ(version, 48u);
  EXPECT_EQ(box.Identifications(), 2) << "the second attempt was accepted";
  EXPECT_GE(ms, 200) << "two attempts, each after 100 ms of sleep";
}

TEST_F(HandshakeOnPtyTest, CancelFromTheStartWritesNothing) {
  uint32_t version = 99;
  EXPECT_EQ(Handshake(version, &Always), 6);
  EXPECT_EQ(version, 99u);
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_TRUE(pty_.Drain().empty());
}

// --- the in-memory port on the virtual clock ----------------------------------------

class HandshakeMemoryTest : public ::testing::Test {
 protected:
  HandshakeMemoryTest() : port_(*clock_) {}
  // A box that echoes every byte of the command and answers the identification.
  void ScriptBox(std::function<std::string(int attempt)> answer, size_t echoBytes = SIZE_MAX) {
    port_->OnWrite([this, answer, echoBytes](const uint8_t* data, int32_t length) {
      for (int32_t i = 0; i < length; ++i) {
        const char c = static_cast<char>(data[i]);
        if (!inId_) {
          if (echoed_ < echoBytes) port_->Deliver(std::string(1, c), 1);
          ++echoed_;
          line_ += c;
          if (c == '\r') {
            inId_ = line_ == kCommand;
            line_.clear();
          }
          continue;
        }
        id_ += c;
        if (id_.size() == kId.size()) {
          port_->Deliver(answer(attempts_++), 5);
          id_.clear();
          inId_ = false;
        }
      }
    });
  }
  test::ScopedVirtualClock clock_;
  test::ScopedMemoryPort port_;
  bool inId_ = false;
  size_t echoed_ = 0;
  int attempts_ = 0;
  std::string line_, id_;
};

TEST_F(HandshakeMemoryTest, SilentLineGivesSevenAfter200AttemptsOfOneByteAndACarriageReturn) {
  uint32_t version = 5;
  const uint32_t t0 = clock_->NowMs();
  EXPECT_EQ(Handshake(version, &Never), 7);
  EXPECT_EQ(version, 5u) << "unchanged";
  std::string expected;
  for (int i = 0; i < 200; ++i) expected += "c\r";
  EXPECT_EQ(std::string(port_->Written().begin(), port_->Written().end()), expected);
  EXPECT_EQ(port_->WriteCalls(), std::vector<int32_t>(400, 1));
  EXPECT_EQ(port_->purgeInputCount, 201) << "once before, once per attempt";
  const uint32_t spent = clock_->NowMs() - t0;
  EXPECT_GE(spent, 200u * 150u) << "100 ms sleep and 50 ms echo wait each";
  EXPECT_LT(spent, 200u * 160u);
}

TEST_F(HandshakeMemoryTest, CancelFromTheStartGivesSixWithoutWritingOrSleeping) {
  uint32_t version = 5;
  EXPECT_EQ(Handshake(version, &Always), 6);
  EXPECT_EQ(version, 5u);
  EXPECT_TRUE(port_->Written().empty());
  EXPECT_EQ(clock_->TotalSlept(), 0u);
}

std::atomic<int> cancelAfter{0};
int CancelAfterSomeQueries() {
  return cancelAfter.fetch_sub(1) <= 0 ? 1 : 0;
}

TEST_F(HandshakeMemoryTest, CancelIsAskedAtTheStartOfEveryAttempt) {
  cancelAfter = 3;  // three attempts, then cancel
  uint32_t version = 0;
  EXPECT_EQ(Handshake(version, &CancelAfterSomeQueries), 6);
  EXPECT_EQ(std::string(port_->Written().begin(), port_->Written().end()), "c\rc\rc\r");
}

TEST_F(HandshakeMemoryTest, EchoedIdentificationGives32AndComplementGives48) {
  ScriptBox([](int) { return kId; });
  uint32_t version = 0;
  EXPECT_EQ(Handshake(version, &Never), 0);
  EXPECT_EQ(version, 32u);
  EXPECT_EQ(std::string(port_->Written().begin(), port_->Written().end()), kCommand + kId);
  // The command went byte by byte, the identification in one write.
  std::vector<int32_t> calls(kCommand.size(), 1);
  calls.push_back(18);
  EXPECT_EQ(port_->WriteCalls(), calls);

  port_->ClearWritten();
  ScriptBox([](int) { return Complement(kId); });
  EXPECT_EQ(Handshake(version, &Never), 0);
  EXPECT_EQ(version, 48u);
}

TEST_F(HandshakeMemoryTest, AlmostComplementIsRefusedAndTheNextAttemptIsAccepted) {
  ScriptBox([](int attempt) {
    std::string reply = Complement(kId);
    if (attempt == 0) reply[17] = static_cast<char>(reply[17] ^ 0x80);
    return reply;
  });
  uint32_t version = 0;
  EXPECT_EQ(Handshake(version, &Never), 0);
  EXPECT_EQ(version, 48u);
  EXPECT_EQ(attempts_, 2);
  EXPECT_EQ(std::string(port_->Written().begin(), port_->Written().end()),
            kCommand + kId + kCommand + kId);
}

TEST_F(HandshakeMemoryTest, OtherRepliesAreIgnoredUntilTheAttemptsRunOut) {
  ScriptBox([](int) { return std::string(18, 'x'); });
  uint32_t version = 0;
  EXPECT_EQ(Handshake(version, &Never), 7);
  EXPECT_EQ(attempts_, 200);
}

TEST_F(HandshakeMemoryTest, BrokenEchoEndsTheAttemptWithACarriageReturn) {
  ScriptBox([](int) { return kId; }, 4);  // echoes "comt", then nothing
  uint32_t version = 0;
  cancelAfter = 1;
  EXPECT_EQ(Handshake(version, &CancelAfterSomeQueries), 6);
  EXPECT_EQ(std::string(port_->Written().begin(), port_->Written().end()), "comte\r");
}

TEST_F(HandshakeMemoryTest, ShortIdentificationWriteEndsTheAttempt) {
  ScriptBox([](int) { return kId; });
  port_->writeBudget = static_cast<int64_t>(kCommand.size() + 10);
  uint32_t version = 0;
  cancelAfter = 1;
  EXPECT_EQ(Handshake(version, &CancelAfterSomeQueries), 6);
  EXPECT_EQ(port_->Written().size(), kCommand.size() + 10);
}

TEST_F(HandshakeMemoryTest, SendEchoWrongEchoOnTheThirdByteReturnsFourAfterThreeBytes) {
  int n = 0;
  port_->OnWrite([&](const uint8_t* data, int32_t) {
    ++n;
    port_->Deliver(
        std::string(1, n == 3 ? static_cast<char>(data[0] + 1) : static_cast<char>(data[0])));
  });
  const uint8_t data[] = {'a', 'b', 'c', 'd', 'e'};
  EXPECT_EQ(SendEcho(data, 5, 50), err::kEchoMismatch);
  EXPECT_EQ(port_->Written(), std::vector<uint8_t>({'a', 'b', 'c'}));
}

TEST_F(HandshakeMemoryTest, SendEchoResults) {
  const uint8_t data[] = {'x', 'y'};
  // No echo: 23 after the first byte and one time limit.
  const uint32_t t0 = clock_->NowMs();
  EXPECT_EQ(SendEcho(data, 2, 50), err::kReadData);
  EXPECT_EQ(clock_->NowMs() - t0, 50u);
  EXPECT_EQ(port_->Written().size(), 1u);
  // Nothing written: 3.
  port_->ClearWritten();
  port_->writeBudget = 0;
  EXPECT_EQ(SendEcho(data, 2, 50), err::kSendData);
  // Count 0 or less: 0 at once, nothing written.
  port_->writeBudget = -1;
  port_->ClearWritten();
  EXPECT_EQ(SendEcho(data, 0, 50), 0);
  EXPECT_EQ(SendEcho(data, -1, 50), 0);
  EXPECT_TRUE(port_->Written().empty());
  // Good echo: 0.
  port_->OnWrite(
      [&](const uint8_t* d, int32_t) { port_->Deliver(std::string(1, static_cast<char>(d[0]))); });
  EXPECT_EQ(SendEcho(data, 2, 50), 0);
  EXPECT_EQ(port_->Written(), std::vector<uint8_t>({'x', 'y'}));
}

TEST_F(HandshakeMemoryTest, SendByteWritesTheLowByte) {
  EXPECT_EQ(SendByte(0x1234), 1);
  EXPECT_EQ(SendByte('\r'), 1);
  EXPECT_EQ(port_->Written(), std::vector<uint8_t>({0x34, 0x0D}));
  port_->writeBudget = 0;
  EXPECT_EQ(SendByte(1), 0);
}

}  // namespace
}  // namespace stb
