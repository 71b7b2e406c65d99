#include "image/compression.h"

#include <gtest/gtest.h>
#include <lzma.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "context/error_table.h"
#include "context/settings.h"
#include "image/external_encoder.h"
#include "image/lzma_check.h"
#include "image/lzma_encoder.h"
#include "image_test_util.h"
#include "recording_window.h"

namespace stb {
namespace {

// Compressible bytes that look a little like firmware: repeated words with noise.
std::vector<uint8_t> Compressible(size_t size, uint32_t seed = 1) {
  std::vector<uint8_t> d(size);
  std::mt19937 rng(seed);
  for (size_t i = 0; i < size; ++i) d[i] = (i % 64 < 48) ? static_cast<uint8_t>(i / 64) : rng() & 3;
  return d;
}

std::vector<uint8_t> Random(size_t size) {
  std::vector<uint8_t> d(size);
  std::mt19937 rng(7);
  for (auto& b : d) b = static_cast<uint8_t>(rng());
  return d;
}

uint64_t Le(const uint8_t* p, int bytes) {
  uint64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

// What any .lzma reader makes of the bytes.
bool DecodeAlone(const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
  lzma_stream s = LZMA_STREAM_INIT;
  if (lzma_alone_decoder(&s, UINT64_MAX) != LZMA_OK) return false;
  out.assign(Le(in.data() + 5, 8) + 1, 0);
  s.next_in = in.data();
  s.avail_in = in.size();
  s.next_out = out.data();
  s.avail_out = out.size();
  const lzma_ret ret = lzma_code(&s, LZMA_FINISH);
  out.resize(s.total_out);
  lzma_end(&s);
  return ret == LZMA_STREAM_END;
}

// A strict raw decoder that refuses an end marker and wants every byte used.
bool RawStreamHasNoEndMarker(const std::vector<uint8_t>& in, size_t plain) {
  lzma_options_lzma o;
  lzma_lzma_preset(&o, LZMA_PRESET_DEFAULT);
  o.lc = 0;
  o.lp = 2;
  o.pb = 2;
  o.dict_size = static_cast<uint32_t>(Le(in.data() + 1, 4));
  o.ext_flags = 0;
  o.ext_size_low = static_cast<uint32_t>(plain);
  o.ext_size_high = 0;
  const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &o}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream s = LZMA_STREAM_INIT;
  if (lzma_raw_decoder(&s, filters) != LZMA_OK) return false;
  std::vector<uint8_t> out(plain + 1);
  s.next_in = in.data() + kLzmaHeaderSize;
  s.avail_in = in.size() - kLzmaHeaderSize;
  s.next_out = out.data();
  s.avail_out = out.size();
  const lzma_ret ret = lzma_code(&s, LZMA_FINISH);
  const bool ok = ret == LZMA_STREAM_END && s.avail_in == 0 && s.total_out == plain;
  lzma_end(&s);
  return ok;
}

class Compression : public ::testing::Test {
 protected:
  void SetUp() override { SetEncoderDirectory(encoderDir_.Path()); }
  void TearDown() override {
    SetEncoderDirectory("");
    SetEncoderTimeout(std::chrono::milliseconds(0));
  }
  void WriteEncoder(const std::string& body) {
    const std::string path = encoderDir_.WriteText("lzma.exe", "#!/bin/sh\n" + body + "\n");
    ::chmod(path.c_str(), 0755);
  }
  std::string InEncoderDir(const std::string& name) const { return encoderDir_.File(name); }

  test::TempDir encoderDir_;  // no lzma.exe unless a test writes one
};

TEST_F(Compression, InProcessOutputIsWhatTheSdkEncoderWrites) {
  for (size_t size : {size_t{1}, size_t{1000}, size_t{1} << 20}) {
    SCOPED_TRACE(size);
    const std::vector<uint8_t> plain = Compressible(size);
    std::vector<uint8_t> packed;
    ASSERT_EQ(EncodeLzmaAlone(plain.data(), plain.size(), packed), 0);
    ASSERT_GT(packed.size(), size_t{kLzmaHeaderSize});
    EXPECT_EQ(packed[0], 0x6C);
    EXPECT_EQ(Le(packed.data() + 1, 4), size < 65536 ? 65536u : size);
    EXPECT_EQ(Le(packed.data() + 5, 8), size);  // known, never all 0xFF
    std::vector<uint8_t> decoded;
    ASSERT_TRUE(DecodeAlone(packed, decoded));
    EXPECT_EQ(decoded, plain);
    EXPECT_TRUE(RawStreamHasNoEndMarker(packed, size));
  }
}

TEST_F(Compression, DictionaryIsTheSmallestPowerOfTwoThatHoldsTheData) {
  const std::pair<uint64_t, uint32_t> sizes[] = {{0, 1u << 16},        {65536, 1u << 16},
                                                 {65537, 1u << 17},    {3u << 20, 1u << 22},
                                                 {1u << 24, 1u << 24}, {(1u << 24) + 1, 1u << 24}};
  for (const auto& [size, dict] : sizes) EXPECT_EQ(LzmaDictionarySize(size), dict) << size;
}

TEST_F(Compression, InProcessReplacesTheDataOnlyWhenShorter) {
  std::vector<uint8_t> data = Compressible(100000);
  const std::vector<uint8_t> plain = data;
  int32_t sizeOut = 0;
  ASSERT_EQ(PrepareCompressedTransfer(data.data(), static_cast<int32_t>(data.size()), sizeOut), 0);
  ASSERT_GT(sizeOut, kLzmaHeaderSize);
  ASSERT_LT(sizeOut, 100000);
  std::vector<uint8_t> decoded;
  ASSERT_TRUE(DecodeAlone({data.begin(), data.begin() + sizeOut}, decoded));
  EXPECT_EQ(decoded, plain);

  for (std::vector<uint8_t> input : {Random(4096), Compressible(1), std::vector<uint8_t>(1)}) {
    const std::vector<uint8_t> before = input;
    const auto size = static_cast<int32_t>(input.size());
    EXPECT_NE(PrepareCompressedTransfer(input.data(), size, sizeOut), 0) << size;
    EXPECT_EQ(sizeOut, size);
    EXPECT_EQ(input, before);
  }
  uint8_t none = 0x42;
  EXPECT_NE(PrepareCompressedTransfer(&none, 0, sizeOut), 0);
  EXPECT_EQ(sizeOut, 0);
  EXPECT_EQ(none, 0x42);
}

TEST_F(Compression, ExternalEncoderRunsWithTheFixedArguments) {
  WriteEncoder(
      "d=$(dirname \"$0\")\nprintf '%s\\n' \"$@\" > \"$d/args\"\ncp \"$2\" \"$d/seen.in\"\n"
      "xz --format=lzma -c \"$2\" > \"$3\"\ncp \"$3\" \"$d/seen.out\"");
  std::vector<uint8_t> data = Compressible(1000);
  const std::vector<uint8_t> plain = data;
  int32_t sizeOut = 0;
  ASSERT_EQ(PrepareCompressedTransfer(data.data(), 1000, sizeOut), 0);
  // Exactly the encoder's bytes are sent (they were decoded and checked first).
  const std::vector<uint8_t> packed = test::ReadFileBytes(InEncoderDir("seen.out"));
  ASSERT_EQ(sizeOut, static_cast<int32_t>(packed.size()));
  EXPECT_TRUE(std::equal(packed.begin(), packed.end(), data.begin()));
  EXPECT_EQ(test::ReadFileBytes(InEncoderDir("seen.in")), plain);

  const std::string work = CompressionWorkDirectory();
  const std::vector<uint8_t> args = test::ReadFileBytes(InEncoderDir("args"));
  EXPECT_EQ(std::string(args.begin(), args.end()),
            "e\n" + work + "/temp.in\n" + work + "/temp.7z\n-lc0\n-lp2\n");
  // The folder is private to this process and holds no copy of the data afterwards.
  EXPECT_EQ(work.rfind(GetTempDirectory() + "/stb-upgrade-", 0), 0u) << work;
  EXPECT_NE(::access((work + "/temp.in").c_str(), F_OK), 0);
}

TEST_F(Compression, ExternalEncoderFailuresSendThePlainData) {
  struct Case {
    const char* name;
    const char* script;  // null: an executable lzma.exe that cannot be started
    bool staleOutput;    // a temp.7z of an earlier run lies in the work folder
    int rc;
  };
  const Case cases[] = {
      {"writes nothing, earlier output lies there", "exit 0", true, err::kFileNotOpen},
      {"empty output", ": > \"$3\"", false, err::kReadFileData},
      {"output as long as the input", "cp \"$2\" \"$3\"", false, err::kEncoderNotStarted},
      {"longer output", "cat \"$2\" \"$2\" > \"$3\"", false, err::kEncoderNotStarted},
      {"fails after half its output", "printf half > \"$3\"; exit 1", false, err::kFileNotOpen},
      {"killed by a signal", "printf half > \"$3\"; kill -9 $$", false, err::kFileNotOpen},
      {"cannot be started", nullptr, false, err::kEncoderNotStarted},
      // Valid streams that do not hold the data: never sent.
      {"a valid stream of zeros", "head -c 1000 /dev/zero | xz --format=lzma > \"$3\"", false,
       err::kEncoderNotStarted},
      {"a valid stream cut short", "xz --format=lzma -c \"$2\" | head -c 40 > \"$3\"", false,
       err::kEncoderNotStarted},
      {"a valid stream with bytes behind it",
       "xz --format=lzma -c \"$2\" > \"$3\"; printf xx >> \"$3\"", false, err::kEncoderNotStarted},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.script != nullptr) {
      WriteEncoder(c.script);
    } else {
      const std::string path = encoderDir_.WriteText("lzma.exe", "no program at all\n");
      ::chmod(path.c_str(), 0755);
    }
    if (c.staleOutput) {
      const std::string stale = CompressionWorkDirectory() + "/temp.7z";
      ASSERT_FALSE(CompressionWorkDirectory().empty());
      FILE* f = std::fopen(stale.c_str(), "wb");
      ASSERT_NE(f, nullptr);
      std::fputs("stale", f);
      std::fclose(f);
    }
    std::vector<uint8_t> data = Compressible(1000);
    const std::vector<uint8_t> plain = data;
    int32_t sizeOut = 0;
    EXPECT_EQ(PrepareCompressedTransfer(data.data(), 1000, sizeOut), c.rc);
    EXPECT_EQ(sizeOut, 1000);
    EXPECT_EQ(data, plain);
  }
}

// The technician sees the encoder run and learns why a download went uncompressed.
TEST_F(Compression, StatusLinesAndTheMismatchLine) {
  WriteEncoder("head -c 1000 /dev/zero | xz --format=lzma > \"$3\"");
  test::ScopedRecordingWindow window;
  std::vector<uint8_t> data = Compressible(1000);
  int32_t sizeOut = 0;
  EXPECT_NE(PrepareCompressedTransfer(data.data(), 1000, sizeOut), 0);
  EXPECT_EQ(window->Texts(WM_WORKER_STATUS),
            (std::vector<std::string>{"Compressing...", "Sending uncompressed."}));
  EXPECT_EQ(window->LogText(), "The compressed data do not match. Sending uncompressed.\r\n");

  WriteEncoder("xz --format=lzma -c \"$2\" > \"$3\"");
  window->Clear();
  ASSERT_EQ(PrepareCompressedTransfer(data.data(), 1000, sizeOut), 0);
  const auto status = window->Texts(WM_WORKER_STATUS);
  ASSERT_EQ(status.size(), 2u);
  EXPECT_EQ(status[1], "Compressed 1000 to " + std::to_string(sizeOut) + " bytes.");
  EXPECT_EQ(window->LogText(), "");
}

TEST_F(Compression, LzmaExeThatCannotRunFallsToInProcessOnlyWhenNotExecutable) {
  const std::string path = encoderDir_.WriteText("lzma.exe", "#!/bin/sh\nprintf x > \"$3\"\n");
  ::chmod(path.c_str(), 0644);
  EXPECT_TRUE(ExternalEncoderPath().empty());
  std::vector<uint8_t> data = Compressible(100000);
  int32_t sizeOut = 0;
  ASSERT_EQ(PrepareCompressedTransfer(data.data(), 100000, sizeOut), 0);
  EXPECT_EQ(data[0], 0x6C);  // liblzma's form, not the script's "x"
  EXPECT_FALSE(RunEncoder("/nonexistent/in", "/nonexistent/out"));
}

TEST_F(Compression, HungEncoderIsEndedAfterTheLimit) {
  SetEncoderTimeout(std::chrono::milliseconds(200));
  WriteEncoder("sleep 30; printf x > \"$3\"");
  std::vector<uint8_t> data = Compressible(1000);
  int32_t sizeOut = 0;
  const auto start = std::chrono::steady_clock::now();
  EXPECT_NE(PrepareCompressedTransfer(data.data(), 1000, sizeOut), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
  EXPECT_EQ(sizeOut, 1000);
}

// Parent and child both compress while the other's encoder runs; each must get the
// output made from its own data, so their work files must not be shared.
TEST_F(Compression, TwoProcessesCompressingAtOnceKeepApart) {
  WriteEncoder("sleep 0.3; xz --format=lzma -c \"$2\" > \"$3\"");
  ASSERT_FALSE(CompressionWorkDirectory().empty());  // made before the fork
  auto run = [](uint32_t seed) {
    std::vector<uint8_t> data = Compressible(4096, seed);
    for (size_t i = 0; i < 64; ++i) data[i] = static_cast<uint8_t>(seed + i);
    const std::vector<uint8_t> plain = data;
    int32_t sizeOut = 0;
    // Output made from the other process's data would not decode to this one's.
    return PrepareCompressedTransfer(data.data(), 4096, sizeOut) == 0 &&
           LzmaAloneDecodesTo(data.data(), static_cast<size_t>(sizeOut), plain.data(), 4096);
  };
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const bool ok = run(100);
    ::rmdir(CompressionWorkDirectory().c_str());  // _exit skips the cleanup at exit
    ::_exit(ok ? 0 : 1);
  }
  const bool parentOk = run(200);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(parentOk);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
}  // namespace stb
