// Where the bytes of an image come from: a file, or memory (fuzzing, tests).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace stb {

class ImageSource {
 public:
  virtual ~ImageSource() = default;
  virtual uint64_t Size() const = 0;
  // Reads up to n bytes at offset; the count read (short only at the end), or -1.
  virtual int64_t ReadAt(uint64_t offset, uint8_t* out, size_t n) = 0;
};

class MemoryImageSource final : public ImageSource {
 public:
  MemoryImageSource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint64_t Size() const override { return size_; }
  int64_t ReadAt(uint64_t offset, uint8_t* out, size_t n) override;

 private:
  const uint8_t* data_;
  size_t size_;
};

// A regular file opened read-only; anything else (a directory, a pipe) is refused
// without blocking (OpenInputFile).
class FileImageSource final : public ImageSource {
 public:
  FileImageSource() = default;
  ~FileImageSource() override;
  FileImageSource(const FileImageSource&) = delete;
  FileImageSource& operator=(const FileImageSource&) = delete;

  // 0 on success, else the errno of the failure or err::kNotRegularFile.
  int Open(const std::string& path);
  uint64_t Size() const override { return size_; }
  int64_t ReadAt(uint64_t offset, uint8_t* out, size_t n) override;

 private:
  int fd_ = -1;
  uint64_t size_ = 0;
};

}  // namespace stb
