// Builds firmware images (chains of 128-byte-headed chunks) for tests.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace stb::test {

struct ImageChunk {
  uint32_t id;
  std::vector<uint8_t> data;
  uint32_t room = 0;  // bytes from this header to the next; 0 = header + data
  std::string name = "chunk";
  bool noCrc = false;  // store the NCRC marker instead of a CRC
};

// The image bytes; the last chunk gets nextOffset 0. CRCs are correct.
std::vector<uint8_t> BuildImage(const std::vector<ImageChunk>& chunks);
// n bytes of a repeatable pattern.
std::vector<uint8_t> PatternBytes(size_t n, uint32_t seed = 1);

// A file in a fresh temporary directory, removed with it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) const;
  std::string WriteText(const std::string& name, const std::string& text) const {
    return Write(name, std::vector<uint8_t>(text.begin(), text.end()));
  }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

std::vector<uint8_t> ReadFileBytes(const std::string& path);

}  // namespace stb::test
