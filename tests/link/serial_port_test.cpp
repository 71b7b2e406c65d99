// CSerialPort and the port functions on a real pseudo-terminal, both ends
// in this process: the port opens the slave, the test is the box on the master.
#include "link/serial_port.h"

#include <asm/termbits.h>  // termios2 flags; <termios.h> must not be included beside it
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "context/settings.h"
#include "context/upgrade_context.h"
#include "link/port.h"
#include "pty_pair.h"
#include "scratch.h"

namespace stb {
namespace {

using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point t0) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t0).count());
}

// CPU time of this thread, in milliseconds.
double ThreadCpuMs() {
  struct rusage u {};
  ::getrusage(RUSAGE_THREAD, &u);
  return (u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000.0 +
         (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000.0;
}

std::vector<uint8_t> Bytes(const std::string& s) {
  return {s.begin(), s.end()};
}

class SerialPortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(pty_.Ok()) << std::strerror(errno);
    GetSerialSettings() = SerialSettings{};
    SetActivePort(nullptr);
  }
  void TearDown() override {
    port_.Close();
    GetSerialPort().Close();
    GetSerialSettings() = SerialSettings{};
    SetSettingsFilePath("");
    SetSerialReadFunction(nullptr);
  }
  void OpenOrFail(int32_t baud = 115200, int32_t parity = 2, int32_t stopBits = 1) {
    ASSERT_EQ(port_.OpenDevice(pty_.SlavePath(), baud, parity, stopBits), 1)
        << port_.LastOpenError();
  }
  // Waits until the port sees n bytes queued (the pty hands them over asynchronously).
  bool WaitQueued(int32_t n) {
    const auto t0 = Clock::now();
    while (port_.BytesAvailable() < n) {
      if (ElapsedMs(t0) > 2000) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  test::PtyPair pty_;
  CSerialPort port_;
};

TEST_F(SerialPortTest, OpensAt115200WithARawEightBitLine) {
  OpenOrFail(115200, 2, 1);
  CSerialPort::LineReadback line;
  ASSERT_TRUE(port_.ReadBackLine(line));
  EXPECT_EQ(line.ospeed, 115200u);
  EXPECT_EQ(line.ispeed, 115200u);
  EXPECT_EQ(line.cflag & CSIZE, static_cast<uint32_t>(CS8));
  EXPECT_EQ(line.cflag & CSTOPB, 0u) << "one stop bit";
  EXPECT_EQ(line.cflag & CRTSCTS, 0u) << "no hardware flow control";
  EXPECT_NE(line.cflag & CLOCAL, 0u);
  EXPECT_NE(line.cflag & CREAD, 0u);
  EXPECT_EQ(line.iflag & (IXON | IXOFF | IXANY), 0u) << "no software flow control";
  EXPECT_EQ(line.iflag & (ICRNL | INLCR | IGNCR | ISTRIP | PARMRK | IGNPAR), 0u) << "raw bytes";
  EXPECT_NE(line.iflag & INPCK, 0u) << "even parity is checked";
  EXPECT_EQ(line.oflag & OPOST, 0u);
  EXPECT_EQ(line.lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
  EXPECT_EQ(line.vmin, 0);
  EXPECT_EQ(line.vtime, 0);
  EXPECT_TRUE(port_.IsOpen());
  EXPECT_EQ(port_.DevicePath(), pty_.SlavePath());
}

TEST_F(SerialPortTest, EveryBaudRateOfTheConnectPageIsTakenExactly) {
  // 14400 and 56000 are no POSIX speeds: they need termios2 BOTHER.
  for (int32_t baud :
       {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200}) {
    ASSERT_EQ(port_.OpenDevice(pty_.SlavePath(), baud, 0, 1), 1) << baud << port_.LastOpenError();
    CSerialPort::LineReadback line;
    ASSERT_TRUE(port_.ReadBackLine(line));
    EXPECT_EQ(line.ospeed, static_cast<uint32_t>(baud));
    EXPECT_EQ(line.ispeed, static_cast<uint32_t>(baud));
    EXPECT_EQ(line.cflag & CBAUD, static_cast<uint32_t>(BOTHER)) << baud;
  }
}

TEST_F(SerialPortTest, TheFiveParitiesWithCheckingExactlyWhenNotNone) {
  // A pseudo-terminal's driver clears PARENB itself (it has no line), so here the
  // odd/mark/space bits and the checking flag show the parity asked for; PARENB is
  // checked by LineSettingsTaken below.
  struct Case {
    int32_t code;
    bool odd, stick, check;
  };
  const Case cases[] = {
      {0, false, false, false},  // none
      {1, true, false, true},    // odd
      {2, false, false, true},   // even
      {3, true, true, true},     // mark
      {4, false, true, true},    // space
  };
  for (const Case& c : cases) {
    ASSERT_EQ(port_.OpenDevice(pty_.SlavePath(), 56000, c.code, 1), 1)
        << c.code << " " << port_.LastOpenError();
    CSerialPort::LineReadback line;
    ASSERT_TRUE(port_.ReadBackLine(line));
    EXPECT_EQ((line.cflag & PARODD) != 0, c.odd) << c.code;
    EXPECT_EQ((line.cflag & CMSPAR) != 0, c.stick) << c.code;
    EXPECT_EQ((line.iflag & INPCK) != 0, c.check) << c.code;
  }
}

TEST_F(SerialPortTest, OneStopBitForSelectorOneElseTwo) {
  for (int32_t selector : {1, 2, 0, -1}) {
    ASSERT_EQ(port_.OpenDevice(pty_.SlavePath(), 14400, 1, selector), 1);
    CSerialPort::LineReadback line;
    ASSERT_TRUE(port_.ReadBackLine(line));
    EXPECT_EQ((line.cflag & CSTOPB) != 0, selector != 1) << selector;
  }
}

TEST(SerialLineCheck, ReadBackMustMatchOnARealDeviceAndMayLoseParityOnAPty) {
  const uint32_t even = CS8 | CREAD | CLOCAL | BOTHER | PARENB;
  const uint32_t cleared = CS8 | CREAD | CLOCAL | BOTHER;  // what a pty reports back
  EXPECT_TRUE(LineSettingsTaken(even, even, 115200, 115200, false));
  EXPECT_FALSE(LineSettingsTaken(even, cleared, 115200, 115200, false));
  EXPECT_TRUE(LineSettingsTaken(even, cleared, 115200, 115200, true));
  EXPECT_FALSE(LineSettingsTaken(even, even | CSTOPB, 115200, 115200, true)) << "stop bits";
  EXPECT_FALSE(LineSettingsTaken(even | CMSPAR, even, 9600, 9600, true)) << "mark/space";
  EXPECT_FALSE(LineSettingsTaken(even, even | CRTSCTS, 9600, 9600, false)) << "flow control";
  EXPECT_TRUE(LineSettingsTaken(even, even, 56000, 55555, false)) << "within 3 percent";
  EXPECT_FALSE(LineSettingsTaken(even, even, 14400, 38400, false)) << "fallback speed";
  EXPECT_FALSE(LineSettingsTaken(even, even, 14400, 0, false));
}

TEST_F(SerialPortTest, RefusedLineSettingsFailTheOpen) {
  EXPECT_EQ(port_.OpenDevice(pty_.SlavePath(), 115200, 5, 1), 0);
  EXPECT_NE(port_.LastOpenError().find("parity"), std::string::npos) << port_.LastOpenError();
  EXPECT_EQ(port_.OpenDevice(pty_.SlavePath(), 0, 0, 1), 0);
  EXPECT_EQ(port_.OpenDevice(pty_.SlavePath(), -9600, 0, 1), 0);
  EXPECT_FALSE(port_.IsOpen());
  OpenOrFail();  // a refused open leaves nothing held
}

TEST_F(SerialPortTest, PortOpenMapsComNumbersThroughPortsElseTtyS) {
  test::TempDir dir;
  const std::string ini = dir / "Upgrade.ini";
  ASSERT_TRUE(test::WriteFile(ini, "[Ports]\nCOM5=" + pty_.SlavePath() + "\n"));
  SetSettingsFilePath(ini);
  EXPECT_EQ(DeviceForPort(5), pty_.SlavePath());
  EXPECT_EQ(DeviceForPort(3), "/dev/ttyS2");
  EXPECT_EQ(DeviceForPort(1), "/dev/ttyS0");
  EXPECT_EQ(PortOpen(5, 115200, 2, 1), 0) << ActivePort().LastOpenError();
  EXPECT_EQ(GetSerialPort().DevicePath(), pty_.SlavePath());
  EXPECT_EQ(PortClose(), 0);
  GetSerialSettings().Device = "/dev/given";
  EXPECT_EQ(DeviceForPort(5), "/dev/given") << "--device wins";
}

TEST_F(SerialPortTest, SecondPortOpenOfAHeldDeviceFailsWithTwo) {
  OpenOrFail();  // held by another CSerialPort in this process
  GetSerialSettings().Device = pty_.SlavePath();
  EXPECT_EQ(PortOpen(1, 115200, 2, 1), 2);
  EXPECT_NE(ActivePort().LastOpenError().find("in use"), std::string::npos)
      << ActivePort().LastOpenError();
  CSerialPort third;
  EXPECT_EQ(third.OpenDevice(pty_.SlavePath(), 115200, 2, 1), 0) << "another fd is refused";
  port_.Close();
  EXPECT_EQ(PortOpen(1, 115200, 2, 1), 0) << ActivePort().LastOpenError();
  EXPECT_EQ(port_.OpenDevice(pty_.SlavePath(), 115200, 2, 1), 0) << "now the process port holds it";
}

TEST_F(SerialPortTest, PortOpenOnAnOpenPortClosesAndOpensAgain) {
  GetSerialSettings().Device = pty_.SlavePath();
  EXPECT_EQ(PortOpen(1, 115200, 2, 1), 0);
  EXPECT_EQ(PortOpen(1, 9600, 0, 1), 0) << ActivePort().LastOpenError();
  CSerialPort::LineReadback line;
  ASSERT_TRUE(GetSerialPort().ReadBackLine(line));
  EXPECT_EQ(line.ospeed, 9600u);
}

TEST_F(SerialPortTest, AnotherProcessIsRefusedWhileThePortIsHeld) {
  OpenOrFail();
  const std::string slave = pty_.SlavePath();
  // Another copy of the tool: refused by the lock.
  EXPECT_EQ(test::RunInChild(
                [&] {
                  CSerialPort other;
                  return other.OpenDevice(slave, 115200, 2, 1) == 0 ? 0 : 1;
                },
                false),
            0);
  // Any other program (not root, whom TIOCEXCL lets through): refused by the kernel.
  if (::geteuid() == 0) {
    ASSERT_EQ(::chown(slave.c_str(), test::kUnprivilegedId, 0), 0);
  }
  auto rawOpen = [slave] {
    const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
      ::close(fd);
      return 0;
    }
    return errno == EBUSY ? 1 : 2;
  };
  EXPECT_EQ(test::RunInChild(rawOpen, true), 1) << "expected EBUSY while held";
  // Closing clears TIOCEXCL, which would otherwise outlive the close on a pty.
  port_.Close();
  EXPECT_EQ(test::RunInChild(rawOpen, true), 0) << "free again after Close";
}

TEST_F(SerialPortTest, MissingDeviceFailsWithTwoAndTheReason) {
  GetSerialSettings().Device = "/dev/ttyDOESNOTEXIST9";
  EXPECT_EQ(PortOpen(1, 115200, 2, 1), 2);
  EXPECT_NE(ActivePort().LastOpenError().find("No such file or directory"), std::string::npos)
      << ActivePort().LastOpenError();
  EXPECT_FALSE(GetSerialPort().IsOpen());
}

TEST_F(SerialPortTest, PathThatIsNoTtyFailsWithTwoAndTheReason) {
  test::TempDir dir;
  const std::string file = dir / "plain";
  ASSERT_TRUE(test::WriteFile(file, "data"));
  for (const std::string& path : {file, std::string("/dev/null"), dir.Path()}) {
    GetSerialSettings().Device = path;
    EXPECT_EQ(PortOpen(1, 115200, 2, 1), 2) << path;
    const std::string why = ActivePort().LastOpenError();
    EXPECT_NE(why.find(path), std::string::npos) << why;
    // ENOTTY for the file and /dev/null, EISDIR for the directory.
    EXPECT_TRUE(why.find(std::strerror(ENOTTY)) != std::string::npos ||
                why.find(std::strerror(EISDIR)) != std::string::npos)
        << why;
  }
  EXPECT_EQ(test::ReadFile(file), "data");
}

TEST_F(SerialPortTest, WriteReachesTheOtherEnd) {
  OpenOrFail();
  const std::vector<uint8_t> data = Bytes("comtest 18\r\x00\xff");
  EXPECT_EQ(port_.Write(data.data(), static_cast<int32_t>(data.size())),
            static_cast<int32_t>(data.size()));
  EXPECT_EQ(pty_.Read(data.size(), 1000), data);
  EXPECT_EQ(port_.Write(data.data(), 0), 0);
}

TEST_F(SerialPortTest, WriteGivesUpAfterLengthPlus100Ms) {
  OpenOrFail();
  // Nobody reads the master: the pty's buffers fill up and a write cannot finish.
  std::vector<uint8_t> chunk(1000, 0x55);
  int32_t n = 0;
  int rounds = 0;
  Clock::time_point t0;
  do {
    t0 = Clock::now();
    n = port_.Write(chunk.data(), 1000);
    ASSERT_LT(++rounds, 1000) << "the pty never filled";
  } while (n == 1000);
  const long ms = ElapsedMs(t0);
  EXPECT_EQ(n, 0);
  EXPECT_GE(ms, 1090);
  EXPECT_LT(ms, 1600);
}

TEST_F(SerialPortTest, ReadExactNeverConsumesPartOfAMessage) {
  OpenOrFail();
  ASSERT_TRUE(pty_.Write(Bytes("0123456789")));
  ASSERT_TRUE(WaitQueued(10));
  uint8_t buffer[32] = {};
  const auto t0 = Clock::now();
  EXPECT_FALSE(port_.ReadExact(buffer, 18, 150));
  EXPECT_GE(ElapsedMs(t0), 145);
  EXPECT_EQ(port_.BytesAvailable(), 10) << "the 10 bytes stay";
  EXPECT_EQ(PortReadAvailable(buffer, 32), 0) << "the process port is not the one open";
  EXPECT_EQ(port_.ReadAvailable(buffer, 32), 10);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 10), "0123456789");
}

TEST_F(SerialPortTest, ReadExactTakesTheWholeMessageOnceTheRestArrives) {
  OpenOrFail();
  ASSERT_TRUE(pty_.Write(Bytes("0123456789")));
  std::thread later([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    pty_.Write(Bytes("abcdefghXYZ"));
  });
  uint8_t buffer[18] = {};
  const auto t0 = Clock::now();
  const bool ok = port_.ReadExact(buffer, 18, 2000);
  const long ms = ElapsedMs(t0);
  later.join();
  EXPECT_TRUE(ok);
  EXPECT_LT(ms, 500);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 18), "0123456789abcdefgh");
  EXPECT_TRUE(WaitQueued(3));
  EXPECT_EQ(port_.BytesAvailable(), 3);
}

TEST_F(SerialPortTest, ReadAvailableOfOneWhenFiveWaitLeavesFour) {
  OpenOrFail();
  ASSERT_TRUE(pty_.Write(Bytes("ABCDE")));
  ASSERT_TRUE(WaitQueued(5));
  uint8_t b = 0;
  EXPECT_EQ(port_.ReadAvailable(&b, 1), 1);
  EXPECT_EQ(b, 'A');
  EXPECT_EQ(port_.BytesAvailable(), 4);
}

TEST_F(SerialPortTest, ReadExactOfLengthZeroSucceedsAndTimeLimitZeroFails) {
  OpenOrFail();
  uint8_t b = 0;
  EXPECT_TRUE(port_.ReadExact(&b, 0, 0));
  ASSERT_TRUE(pty_.Write(Bytes("Q")));
  ASSERT_TRUE(WaitQueued(1));
  EXPECT_FALSE(port_.ReadExact(&b, 1, 0)) << "limit 0: fails without reading";
  EXPECT_EQ(port_.BytesAvailable(), 1);
  EXPECT_TRUE(port_.ReadExact(&b, 1, 10));
  EXPECT_EQ(b, 'Q');
  CSerialPort closed;
  EXPECT_TRUE(closed.ReadExact(&b, 0, 0));
}

TEST_F(SerialPortTest, PortReadReturnsZeroOrOne) {
  GetSerialSettings().Device = pty_.SlavePath();
  ASSERT_EQ(PortOpen(1, 115200, 2, 1), 0);
  uint8_t buffer[4] = {};
  EXPECT_EQ(PortRead(buffer, 4, 20), 1);
  ASSERT_TRUE(pty_.Write(Bytes("WXYZ")));
  EXPECT_EQ(PortRead(buffer, 4, 1000), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 4), "WXYZ");
  EXPECT_EQ(PortWrite(buffer, 4), 4);
  EXPECT_EQ(PortPurge(), 0);
  EXPECT_EQ(PortPurgeOutput(), 0);
  EXPECT_EQ(PortClose(), 0);
}

TEST_F(SerialPortTest, PurgeDiscardsReceivedBytesButNotUnsentOnes) {
  OpenOrFail();
  ASSERT_TRUE(pty_.Write(Bytes("stale")));
  ASSERT_TRUE(WaitQueued(5));
  const std::vector<uint8_t> out = Bytes("sent");
  ASSERT_EQ(port_.Write(out.data(), 4), 4);
  EXPECT_TRUE(port_.Purge());
  EXPECT_EQ(port_.BytesAvailable(), 0);
  EXPECT_EQ(pty_.Read(4, 1000), out) << "output untouched by Purge";
}

TEST_F(SerialPortTest, ClosedPortDoesNothingAndPortCloseReturnsZero) {
  CSerialPort closed;
  uint8_t b = 7;
  EXPECT_EQ(closed.Write(&b, 1), 0);
  EXPECT_EQ(closed.BytesAvailable(), 0);
  EXPECT_EQ(closed.ReadAvailable(&b, 1), 0);
  EXPECT_FALSE(closed.ReadExact(&b, 1, 10));
  EXPECT_FALSE(closed.PurgeInput());
  EXPECT_FALSE(closed.PurgeOutput());
  EXPECT_FALSE(closed.Purge());
  EXPECT_EQ(closed.Close(), 1);
  EXPECT_EQ(closed.Close(), 1);
  ASSERT_FALSE(GetSerialPort().IsOpen());
  EXPECT_EQ(PortClose(), 0);
  EXPECT_EQ(PortClose(), 0);
  EXPECT_EQ(PortPurge(), 1);
  EXPECT_EQ(PortPurgeOutput(), 1);
  EXPECT_EQ(PortRead(&b, 1, 5), 1);
}

std::atomic<size_t> largestRead{0};
std::atomic<int> readCalls{0};
ssize_t RecordingRead(int fd, void* buffer, size_t count) {
  size_t seen = largestRead.load();
  while (count > seen && !largestRead.compare_exchange_weak(seen, count)) {
  }
  ++readCalls;
  return ::read(fd, buffer, count);
}

TEST_F(SerialPortTest, ReadsNeverAskTheKernelForMoreThan4095Bytes) {
  SetSerialReadFunction(&RecordingRead);
  largestRead = 0;
  readCalls = 0;
  OpenOrFail();
  std::vector<uint8_t> lots(9000);
  for (size_t i = 0; i < lots.size(); ++i) lots[i] = static_cast<uint8_t>(i);
  ASSERT_TRUE(pty_.Write(lots));
  ASSERT_TRUE(WaitQueued(4095));
  EXPECT_EQ(port_.BytesAvailable(), 4095) << "the kernel's input buffer";
  std::vector<uint8_t> buffer(10000);
  EXPECT_FALSE(port_.ReadExact(buffer.data(), 5000, 50)) << "can never be queued whole";
  EXPECT_EQ(readCalls.load(), 0) << "and nothing was consumed";
  size_t total = 0;
  const auto t0 = Clock::now();
  while (total < lots.size() && ElapsedMs(t0) < 3000) {
    const int32_t n = port_.ReadAvailable(buffer.data() + total, 10000);
    total += static_cast<size_t>(n);
    if (n == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(total, lots.size());
  EXPECT_TRUE(std::equal(lots.begin(), lots.end(), buffer.begin()));
  EXPECT_GT(readCalls.load(), 2);
  EXPECT_LE(largestRead.load(), 4095u);
  ASSERT_TRUE(pty_.Write(std::vector<uint8_t>(4095, 1)));
  ASSERT_TRUE(WaitQueued(4095));
  EXPECT_TRUE(port_.ReadExact(buffer.data(), 4095, 1000));
  EXPECT_LE(largestRead.load(), 4095u);
}

TEST_F(SerialPortTest, WaitingOnASilentLineSleepsInsteadOfSpinning) {
  OpenOrFail();
  uint8_t buffer[18];
  const double cpu0 = ThreadCpuMs();
  EXPECT_FALSE(port_.ReadExact(buffer, 18, 400));
  const double idle = ThreadCpuMs() - cpu0;
  // And with part of the message queued (poll would return at once).
  ASSERT_TRUE(pty_.Write(Bytes("0123456789")));
  ASSERT_TRUE(WaitQueued(10));
  const double cpu1 = ThreadCpuMs();
  EXPECT_FALSE(port_.ReadExact(buffer, 18, 400));
  const double partial = ThreadCpuMs() - cpu1;
  EXPECT_LT(idle, 20.0);
  EXPECT_LT(partial, 40.0);
}

TEST_F(SerialPortTest, HungUpLineTimesOutWithoutSpinning) {
  OpenOrFail();
  pty_.CloseMaster();
  uint8_t buffer[4];
  const double cpu0 = ThreadCpuMs();
  const auto t0 = Clock::now();
  EXPECT_FALSE(port_.ReadExact(buffer, 4, 300));
  EXPECT_GE(ElapsedMs(t0), 295);
  EXPECT_LT(ThreadCpuMs() - cpu0, 40.0);
}

}  // namespace
}  // namespace stb
