#include "image_test_util.h"

#include <stdlib.h>

#include <cstring>
#include <fstream>
#include <iterator>

#include "context/settings.h"
#include "image/chunk_header.h"
#include "image/chunk_table.h"
#include "image/crc32.h"

namespace stb::test {

TempDir::TempDir() {
  std::string pattern = GetTempDirectory() + "/stb-image-test-XXXXXX";
  if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!path_.empty()) std::filesystem::remove_all(path_, ec);
}

std::string TempDir::Write(const std::string& name, const std::vector<uint8_t>& bytes) const {
  const std::string file = File(name);
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  return file;
}

std::string TempDir::WriteText(const std::string& name, const std::string& text) const {
  return Write(name, std::vector<uint8_t>(text.begin(), text.end()));
}

std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

ImageBytes& ImageBytes::Put(uint64_t pos, const ChunkSpec& spec) {
  const uint64_t end = spec.crc == CrcMode::kMarker
                           ? pos + kChunkHeaderSize
                           : std::max<uint64_t>(pos + 16 + spec.length, pos + kChunkHeaderSize);
  if (bytes_.size() < end) bytes_.resize(end, 0xFF);
  uint8_t* h = bytes_.data() + pos;
  for (uint64_t i = pos + kChunkHeaderSize; i < end; ++i)
    bytes_[i] = static_cast<uint8_t>(i * 7 + 3);
  WriteBe32(h, spec.id);
  WriteBe32(h + 4, spec.length);
  WriteBe32(h + 8, spec.nextOffset);
  std::memset(h + 16, 0, 48);
  std::strncpy(reinterpret_cast<char*>(h + 16), spec.name, 16);
  std::strcpy(reinterpret_cast<char*>(h + 32), "1.0");
  std::memset(h + 64, 0xFF, 64);
  uint32_t crc = NoCrcMarker;
  if (spec.crc != CrcMode::kMarker) {
    crc = Crc32Update(kCrc32Start, h + 16, static_cast<int32_t>(spec.length));
    if (spec.crc == CrcMode::kWrong) crc ^= 1;
  }
  WriteBe32(h + 12, crc);
  return *this;
}

ImageBytes& ImageBytes::Resize(size_t size) {
  bytes_.resize(size, 0xFF);
  return *this;
}

}  // namespace stb::test
