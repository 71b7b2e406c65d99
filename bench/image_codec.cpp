// CRC-32 throughput, and the in-process LZMA encoder next to xz on one image-like input.
#include <fcntl.h>
#include <lzma.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "context/settings.h"
#include "image/chunk_header.h"
#include "image/crc32.h"
#include "image/lzma_encoder.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) {
  return std::chrono::duration<double>(d).count();
}

// 2 MiB laid out like a box's flash: eight chunks of 256 KiB, each a header, a body of
// 32-bit big-endian instruction-like words with string tables between them, then a
// 0xFF gap up to the next chunk.
std::vector<uint8_t> ImageLike() {
  constexpr size_t kSize = 2u << 20;
  constexpr size_t kChunk = 256u << 10;
  std::vector<uint8_t> img(kSize, 0xFF);
  std::mt19937 rng(2024);
  const uint32_t opcodes[] = {0x8C, 0xAC, 0x24, 0x27, 0x0C, 0x10, 0x14, 0x3C, 0x00, 0x34};
  const char* words[] = {"Bitte warten", "Kanal", "Sender", "Suchlauf", "error", "ok", "%d"};
  for (size_t base = 0; base < kSize; base += kChunk) {
    uint8_t* h = img.data() + base;
    const size_t used = kChunk * (55 + rng() % 30) / 100;
    stb::WriteBe32(h, 0x02FD0100u + static_cast<uint32_t>(base >> 18));
    stb::WriteBe32(h + 4, static_cast<uint32_t>(used - 16));
    stb::WriteBe32(h + 8, base + kChunk < kSize ? kChunk : 0);
    std::memset(h + 16, 0, 48);
    std::snprintf(reinterpret_cast<char*>(h + 16), 16, "chunk%zu", base / kChunk);
    size_t i = 128;
    while (i + 4 <= used) {
      if (rng() % 16 == 0) {  // a run of texts
        for (int n = 0; n < 8 && i + 16 < used; ++n) {
          const char* w = words[rng() % 7];
          std::memcpy(h + i, w, std::strlen(w) + 1);
          i += std::strlen(w) + 1;
        }
        i = (i + 3) & ~size_t{3};
        continue;
      }
      const uint32_t op = opcodes[rng() % 10] >> 2;
      const uint32_t word = (op << 26) | ((rng() % 8 + 16) << 21) | ((rng() % 8 + 8) << 16) |
                            ((rng() % 4 == 0) ? (rng() & 0xFFFF) : (rng() % 64) * 4);
      stb::WriteBe32(h + i, word);
      i += 4;
    }
  }
  return img;
}

void CrcThroughput() {
  std::vector<uint8_t> data(64u << 20);
  std::mt19937 rng(1);
  for (auto& b : data) b = static_cast<uint8_t>(rng());
  double best = 1e9;
  uint32_t crc = 0;
  for (int run = 0; run < 5; ++run) {
    const auto t0 = Clock::now();
    crc = stb::Crc32Update(stb::kCrc32Start, data.data(), static_cast<int32_t>(data.size()));
    best = std::min(best, Seconds(Clock::now() - t0));
  }
  std::printf("crc32 table      %8.1f MB/s  (64 MiB, best of 5, crc %08X)\n",
              data.size() / best / 1e6, crc);
  const auto t0 = Clock::now();
  crc = stb::Crc32Bitwise(stb::kCrc32Start, data.data(), 8u << 20);
  std::printf("crc32 bitwise    %8.1f MB/s  (8 MiB)\n",
              (8u << 20) / Seconds(Clock::now() - t0) / 1e6);
}

bool RoundTrips(const std::vector<uint8_t>& packed, const std::vector<uint8_t>& plain) {
  lzma_stream s = LZMA_STREAM_INIT;
  if (lzma_alone_decoder(&s, UINT64_MAX) != LZMA_OK) return false;
  std::vector<uint8_t> out(plain.size() + 1);
  s.next_in = packed.data();
  s.avail_in = packed.size();
  s.next_out = out.data();
  s.avail_out = out.size();
  const bool ok = lzma_code(&s, LZMA_FINISH) == LZMA_STREAM_END && s.total_out == plain.size() &&
                  std::memcmp(out.data(), plain.data(), plain.size()) == 0;
  lzma_end(&s);
  return ok;
}

// Runs xz with its output in a file; its time and output size, or -1.
double RunXz(const std::vector<std::string>& args, const std::string& out, long& size) {
  std::vector<std::string> all = args;
  std::vector<char*> argv;
  for (std::string& a : all) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t pid = 0;
  const auto t0 = Clock::now();
  const int rc = ::posix_spawnp(&pid, "xz", &files, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&files);
  int status = 0;
  if (rc != 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    return -1;
  }
  const double t = Seconds(Clock::now() - t0);
  struct stat st;
  size = ::stat(out.c_str(), &st) == 0 ? static_cast<long>(st.st_size) : -1;
  return t;
}

void EncoderAgainstXz() {
  const std::vector<uint8_t> img = ImageLike();
  std::vector<uint8_t> packed;
  double best = 1e9;
  for (int run = 0; run < 3; ++run) {
    const auto t0 = Clock::now();
    if (stb::EncodeLzmaAlone(img.data(), img.size(), packed) != 0) {
      std::printf("in-process encoder failed\n");
      return;
    }
    best = std::min(best, Seconds(Clock::now() - t0));
  }
  std::printf("input            %zu bytes, image-like (8 chunks: headers, code, texts, 0xFF)\n",
              img.size());
  std::printf(
      "in-process       %8.3f s  %8zu bytes  %5.1f %%  (best of 3, dict %u, round trip %s)\n", best,
      packed.size(), 100.0 * packed.size() / img.size(), stb::LzmaDictionarySize(img.size()),
      RoundTrips(packed, img) ? "ok" : "FAILED");

  std::string dir = stb::GetTempDirectory() + "/stb-bench-XXXXXX";
  if (::mkdtemp(dir.data()) == nullptr) return;
  const std::string in = dir + "/image.bin";
  const std::string out = dir + "/image.lzma";
  if (FILE* f = std::fopen(in.c_str(), "wb")) {
    std::fwrite(img.data(), 1, img.size(), f);
    std::fclose(f);
  }
  const std::pair<const char*, std::vector<std::string>> runs[] = {
      {"xz lc0 lp2 pb2", {"xz", "--format=lzma", "--lzma1=lc=0,lp=2,pb=2", "-c", in}},
      {"xz same options",
       {"xz", "--format=lzma",
        "--lzma1=preset=6,dict=2MiB,lc=0,lp=2,pb=2,mode=normal,mf=bt4,nice=128", "-c", in}},
  };
  for (const auto& [label, args] : runs) {
    long size = -1;
    const double t = RunXz(args, out, size);
    if (t < 0) {
      std::printf("%-16s could not run\n", label);
    } else {
      std::printf("%-16s %8.3f s  %8ld bytes  %5.1f %%  (one run, process start included)\n", label,
                  t, size, 100.0 * size / img.size());
    }
  }
  ::unlink(in.c_str());
  ::unlink(out.c_str());
  ::rmdir(dir.c_str());
}

}  // namespace

int main() {
  CrcThroughput();
  EncoderAgainstXz();
  return 0;
}
