#include "sim/flash_model.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "sim/box_codes.h"
#include "sim/box_crc.h"
#include "sim/box_sim.h"

namespace stb::sim {

namespace {
constexpr size_t kLargestFlash = 0x200000;

uint32_t FlashSizeFor(size_t bytes) {
  for (uint32_t size : {0x80000u, 0x100000u, 0x200000u})
    if (bytes <= size) return size;
  return 0;
}
}  // namespace

bool ReadWholeFile(const std::string& path, size_t limit, std::vector<uint8_t>& bytes,
                   std::string& error) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  bytes.clear();
  uint8_t block[65536];
  size_t got = 0;
  while ((got = std::fread(block, 1, sizeof block, f)) > 0) {
    if (bytes.size() + got > limit) {
      std::fclose(f);
      error = path + ": larger than " + std::to_string(limit) + " bytes";
      return false;
    }
    bytes.insert(bytes.end(), block, block + got);
  }
  const bool failed = std::ferror(f) != 0;
  std::fclose(f);
  if (failed) {
    error = path + ": read error";
    return false;
  }
  return true;
}

bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes,
                         std::string& error) {
  std::string temp = path + ".XXXXXX";
  const int fd = mkstemp(temp.data());
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  (void)::fchmod(fd, 0644);
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  const bool ok = done == bytes.size() && ::fsync(fd) == 0;
  const int saved = errno;
  ::close(fd);
  if (!ok || std::rename(temp.c_str(), path.c_str()) != 0) {
    error = path + ": " + std::strerror(ok ? errno : saved);
    std::remove(temp.c_str());
    return false;
  }
  return true;
}

bool FlashModel::Load(const BoxOptions& options, std::string& error) {
  std::vector<uint8_t> bytes;
  if (!options.flash.empty()) {
    bytes = options.flash;
  } else if (!options.flashFile.empty()) {
    if (!ReadWholeFile(options.flashFile, kLargestFlash, bytes, error)) return false;
  } else {
    bytes = BuildDefaultFlash();
  }
  if (bytes.size() < kHeaderBytes) {
    error = "the flash must hold at least one 128-byte chunk header";
    return false;
  }
  if (bytes.size() > kLargestFlash) {
    error = "the flash is larger than 2 MiB";
    return false;
  }
  uint32_t size = FlashSizeFor(bytes.size());
  uint8_t type = DefaultTypeForSize(size);
  if (options.flashType >= 0) {
    if (options.flashType > 255) {
      error = "the flash type is one byte (0 to 255)";
      return false;
    }
    type = static_cast<uint8_t>(options.flashType);
    // A type that names a size fixes the flash at that size.
    if (const uint32_t typed = FlashSizeOfType(type); typed != 0) {
      if (typed < bytes.size()) {
        error = "the flash (" + std::to_string(bytes.size()) + " bytes) does not fit flash type " +
                std::to_string(type) + " (" + std::to_string(typed) + " bytes)";
        return false;
      }
      size = typed;
    }
  }
  std::vector<ChainChunk> chunks;
  if (!WalkChain(bytes.data(), bytes.size(), chunks, error)) {
    error = "the flash is no chain of chunks: " + error;
    return false;
  }
  if (chunks.size() > kMaxTableChunks) {
    error = "the flash holds " + std::to_string(chunks.size()) +
            " chunks; the chunk table reports at most " + std::to_string(kMaxTableChunks);
    return false;
  }
  bytes.resize(size, 0xFF);
  std::lock_guard<std::mutex> lock(mutex_);
  flash_ = std::move(bytes);
  type_ = type;
  staging_ = false;
  stage_.clear();
  return true;
}

uint32_t FlashModel::Size() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return static_cast<uint32_t>(flash_.size());
}

uint8_t FlashModel::TypeCode() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return type_;
}

std::vector<uint8_t> FlashModel::Snapshot() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return flash_;
}

void FlashModel::Read(uint32_t offset, uint32_t n, uint8_t* out) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::memset(out, 0xFF, n);
  if (offset >= flash_.size()) return;
  const size_t take = std::min<size_t>(n, flash_.size() - offset);
  std::memcpy(out, flash_.data() + offset, take);
}

std::vector<uint8_t> FlashModel::ChunkTableData(std::string& warning) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<ChainChunk> chunks;
  warning.clear();
  if (!WalkChain(flash_.data(), flash_.size(), chunks, warning))
    warning = "chain broken, table ends there: " + warning;
  else if (chunks.size() > kMaxTableChunks)
    warning = "only the first " + std::to_string(kMaxTableChunks) + " chunks are reported";
  return EncodeChunkTable(flash_.data(), flash_.size(), chunks, type_, 0);
}

int FlashModel::SetAddress(uint32_t address) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (address > flash_.size()) return static_cast<int>(kBoxAddressOverflow);
  if (!staging_) {
    stage_ = flash_;
    staging_ = true;
    staged_ = 0;
  }
  position_ = address;
  return 0;
}

bool FlashModel::HasStaging() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return staging_;
}

uint32_t FlashModel::Position() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return position_;
}

int FlashModel::CheckRoom(uint64_t n) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!staging_) return static_cast<int>(kBoxAddressNotSet);
  if (position_ + n > stage_.size()) return static_cast<int>(kBoxAddressOverflow);
  return 0;
}

int FlashModel::Write(const uint8_t* data, uint32_t n) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!staging_) return static_cast<int>(kBoxAddressNotSet);
  if (uint64_t{position_} + n > stage_.size()) return static_cast<int>(kBoxAddressOverflow);
  if (n > 0) std::memcpy(stage_.data() + position_, data, n);
  position_ += n;
  staged_ += n;
  return 0;
}

int FlashModel::Move(uint32_t id, uint32_t n) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!staging_) return static_cast<int>(kBoxAddressNotSet);
  if (uint64_t{position_} + kHeaderBytes > stage_.size() ||
      GetBe32(stage_.data() + position_) != id)
    return static_cast<int>(kBoxCodeNotFound);
  if (uint64_t{position_} + n > stage_.size()) return static_cast<int>(kBoxAddressOverflow);
  position_ += n;
  return 0;
}

uint32_t FlashModel::StagedBytes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return staged_;
}

int FlashModel::Commit(const std::string& saveFile, std::string& saveError) {
  std::vector<uint8_t> copy;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!staging_) return static_cast<int>(kBoxCannotBurn);
    flash_ = stage_;
    staging_ = false;
    stage_.clear();
    staged_ = 0;
    if (!saveFile.empty()) copy = flash_;
  }
  saveError.clear();
  if (!saveFile.empty()) WriteFileAtomically(saveFile, copy, saveError);
  return 0;
}

void FlashModel::EndSession() {
  std::lock_guard<std::mutex> lock(mutex_);
  staging_ = false;
  stage_.clear();
  staged_ = 0;
  position_ = 0;
}

}  // namespace stb::sim
