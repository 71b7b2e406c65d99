// The process-wide context the wizard pages and the workers share, and the serial
// settings and cancel flag beside it.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace stb {

enum ContextState : int32_t {
  Idle = 0,
  Connecting = 1,
  Operating = 2,
  Flashing = 3,
};

// One file choice. Entry 0 is "Allcode (kein Bootlader)", entry 1 "Allcode  ",
// entry 2 + i chunk i of the box.
struct ChunkSelection {
  std::string FileName;  // empty = nothing chosen
  int32_t FileOffset = 0;
  int32_t FileLength = 0;
  uint8_t IsImageChunk = 0;
};

inline constexpr int kSelectionCount = 16;
inline constexpr int kChunkMaskCapacity = 16;
// Selections holds the two "Allcode" entries and this many chunks.
inline constexpr int kMaxSelectableChunks = kSelectionCount - 2;

class CUpgradeContext {
 public:
  virtual ~CUpgradeContext() = default;

  int32_t Mode = 0;     // 0 = upgrade, otherwise data dump
  int32_t StbTool = 0;  // "Autodetekt" 0, "Eprom" 1, "Bootlader" 2; nothing depends on it
  uint32_t ChunkMaskCount = 0;
  uint32_t ChunkMask[kChunkMaskCapacity] = {};
  uint32_t ProtocolVersion = 0;
  ChunkSelection Selections[kSelectionCount];
  std::atomic<int32_t> State{Idle};  // written by workers, read by the user interface
  uint32_t WarningLevel = 0;
  int32_t TransferFormat2 = 1;
};

// The one context; created with the initial values on first use. Returns null only
// when it cannot be allocated (the next call tries again).
CUpgradeContext* GetContext();
// Destroys the context; a later GetContext() creates a fresh one without loading.
void DestroyContext();

struct SerialSettings {
  int32_t Port = 1;
  int32_t Baud = 115200;
  int32_t Parity = 2;  // 0 none, 1 odd, 2 even, 3 mark, 4 space
  // A device path given on the command line; wins over the mapping of Port.
  std::string Device;
};
SerialSettings& GetSerialSettings();

// 1 once the user asked the running worker to stop.
std::atomic<int32_t>& CancelRequested();

// Replaces the ChunkMask list by the identifiers in text (each followed by a comma).
int ParseChunkMask(const char* text);
// Clears Selections entries 0 .. chunkCount + 1 (capped at the 16 entries).
int ResetSelections(uint32_t chunkCount);

}  // namespace stb
