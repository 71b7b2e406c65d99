// The box's flash and the staging copy an upgrade writes into before the burn.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "sim/chunk_chain.h"

namespace stb::sim {

struct BoxOptions;

class FlashModel {
 public:
  // Takes the flash of the options (bytes, file or built-in), padded to its flash size.
  // False with a message when the flash cannot be had or is no chain of chunks.
  bool Load(const BoxOptions& options, std::string& error);

  uint32_t Size() const;
  uint8_t TypeCode() const;
  std::vector<uint8_t> Snapshot() const;
  // n bytes from offset; bytes beyond the end of the flash read as erased.
  void Read(uint32_t offset, uint32_t n, uint8_t* out) const;
  // The chunk-table data of the flash as it is now; a broken chain is reported up to
  // the break, with the reason in `warning`.
  std::vector<uint8_t> ChunkTableData(std::string& warning) const;

  // Staging. Each returns 0 or the box's error code.
  int SetAddress(uint32_t address);
  bool HasStaging() const;
  uint32_t Position() const;
  // Whether n more bytes fit behind the write position.
  int CheckRoom(uint64_t n) const;
  int Write(const uint8_t* data, uint32_t n);
  int Move(uint32_t id, uint32_t n);
  // Bytes downloaded into the staging copy since it was made.
  uint32_t StagedBytes() const;
  // Commits the staging copy and writes saveFile (when not empty). Returns 0 or
  // kBoxCannotBurn when there is nothing staged; a failed save is reported in
  // saveError and keeps the committed flash.
  int Commit(const std::string& saveFile, std::string& saveError);
  void EndSession();

 private:
  mutable std::mutex mutex_;
  std::vector<uint8_t> flash_;
  uint8_t type_ = 3;
  bool staging_ = false;
  std::vector<uint8_t> stage_;
  uint32_t position_ = 0;
  uint32_t staged_ = 0;
};

// Writes bytes to path through a temporary file beside it and a rename, so that a
// failure never leaves a half-written file in its place.
bool WriteFileAtomically(const std::string& path, const std::vector<uint8_t>& bytes,
                         std::string& error);
bool ReadWholeFile(const std::string& path, size_t limit, std::vector<uint8_t>& bytes,
                   std::string& error);

}  // namespace stb::sim
