#include "image_builder.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "image/chunk_header.h"
#include "image/crc32.h"

namespace stb::test {

std::vector<uint8_t> BuildImage(const std::vector<ImageChunk>& chunks) {
  std::vector<uint8_t> image;
  for (size_t i = 0; i < chunks.size(); ++i) {
    const ImageChunk& c = chunks[i];
    const bool last = i + 1 == chunks.size();
    const uint32_t used = 128 + static_cast<uint32_t>(c.data.size());
    const uint32_t room = c.room != 0 ? c.room : used;
    const size_t start = image.size();
    image.resize(start + (last ? used : room), 0xFF);
    uint8_t* h = image.data() + start;
    std::fill_n(h, 128, 0xFF);
    WriteBe32(h, c.id);
    WriteBe32(h + 4, 112 + static_cast<uint32_t>(c.data.size()));
    WriteBe32(h + 8, last ? 0 : room);
    std::memset(h + 16, 0, 48);
    std::memcpy(h + 16, c.name.data(), std::min<size_t>(c.name.size(), 15));
    std::memcpy(h + 32, "1.0", 3);
    std::memcpy(h + 48, "test", 4);
    std::copy(c.data.begin(), c.data.end(), h + 128);
    const uint32_t crc =
        c.noCrc ? 0x4E435243u : Crc32Of(h + 16, static_cast<int32_t>(112 + c.data.size()));
    WriteBe32(h + 12, crc);
  }
  return image;
}

std::vector<uint8_t> PatternBytes(size_t n, uint32_t seed) {
  std::vector<uint8_t> out(n);
  uint32_t x = seed * 2654435761u + 1;
  for (size_t i = 0; i < n; ++i) {
    x = x * 1103515245u + 12345u;
    out[i] = static_cast<uint8_t>(x >> 16);
  }
  return out;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "stb-test-XXXXXX").string();
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  path_ = mkdtemp(name.data()) != nullptr ? name.data() : "/tmp";
}

TempDir::~TempDir() {
  std::error_code ec;
  if (path_ != "/tmp") std::filesystem::remove_all(path_, ec);
}

std::string TempDir::Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
  const std::string path = File(name);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return path;
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

}  // namespace stb::test
