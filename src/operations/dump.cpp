#include "operations/dump.h"

#include <memory>
#include <new>

#include "context/error_table.h"
#include "context/notifications.h"
#include "context/upgrade_context.h"
#include "image/chunk_table.h"
#include "operations/chunk_text.h"
#include "operations/file_output.h"
#include "protocol/bulk_transfer.h"
#include "protocol/dispatcher.h"

namespace stb {

int RunDump() {
  CUpgradeContext* context = GetContext();
  const std::string& allcode = context->Selections[1].FileName;
  if (!allcode.empty()) return DumpAllcode(allcode);
  const TargetChunkTable& table = GetTargetChunkTable();
  for (uint32_t i = 0; i < table.chunkCount && i < kMaxSelectableChunks; ++i) {
    const std::string& file = context->Selections[2 + i].FileName;
    if (file.empty()) continue;
    const int result = DumpChunk(i, file);
    if (result != 0) return result;
  }
  return err::kSuccess;
}

int DumpAllcode(const std::string& fileName) {
  PostWorkerText("Dumpe Allcode ", true);
  return DumpToFile(fileName, 0, 0);
}

int DumpChunk(uint32_t slot, const std::string& fileName) {
  const TargetChunkTable& table = GetTargetChunkTable();
  if (slot >= table.chunkCount || slot >= kMaxTableChunks) return err::kGeneric;
  const std::string status = "Dumpe Code: " + ChunkText(table.chunks[slot].name) + " ";
  PostWorkerText(status.c_str(), true);
  // A range the table refuses, or an empty one, must never reach the box: length 0
  // asks it for the whole flash.
  uint32_t start = 0, size = 0;
  if (!ChunkFlashRange(table, slot, start, size) || size == 0) return err::kChunkRange;
  return DumpToFile(fileName, start, size);
}

int DumpToFile(const std::string& fileName, uint32_t start, uint32_t length) {
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kDumpBufferSize]);
  if (!buffer) return err::kMalloc;
  int32_t received = 0;
  const int result =
      LoaderDump(buffer.get(), received, &ReportProgress, &IsCancelRequested, start, length);
  if (result != 0) return result;
  // No range of a flash is empty: a box that delivered nothing has failed.
  if (received <= 0) return err::kDumpEmpty;
  // The dump commands refuse totals beyond the buffer; never trust that blindly.
  if (static_cast<uint32_t>(received) > kDumpBufferSize) return err::kDumpLength;
  // A file of another length than the range asked for does not hold that range.
  if (length != 0 && static_cast<uint32_t>(received) != length) return err::kDumpLength;
  return WriteFileAtomically(fileName, buffer.get(), static_cast<size_t>(received));
}

}  // namespace stb
