// Building image files byte by byte, and a temporary folder that cleans up after itself.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace stb::test {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const;
  std::string WriteText(const std::string& name, const std::string& text) const;

 private:
  std::string path_;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);

enum class CrcMode { kRight, kWrong, kMarker };

struct ChunkSpec {
  uint32_t id;
  uint32_t length;  // bytes from header offset 16 on that the CRC covers
  uint32_t nextOffset;
  CrcMode crc = CrcMode::kRight;
  const char* name = "chunk";
};

// An image in memory. Put writes a header at pos, fills the chunk's bytes up to
// pos + 16 + length (marker chunks: the header only) with a pattern, and sets the
// CRC over them; the buffer grows as needed.
class ImageBytes {
 public:
  ImageBytes& Put(uint64_t pos, const ChunkSpec& spec);
  ImageBytes& Resize(size_t size);
  std::vector<uint8_t>& bytes() { return bytes_; }
  size_t size() const { return bytes_.size(); }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace stb::test
