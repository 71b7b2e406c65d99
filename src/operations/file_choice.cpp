#include "operations/file_choice.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "context/upgrade_context.h"
#include "image/chunk_table.h"
#include "image/image_file.h"

namespace stb {

namespace {
std::string SpanMessage(const char* prefix, uint32_t span) {
  char buffer[160];
  std::snprintf(buffer, sizeof buffer, "%s0x%08X", prefix, span);
  return buffer;
}
}  // namespace

FileFilter FileFilterForChunk(uint32_t id) {
  FileFilter f;
  switch (id) {
    case 0:
    case kBootLoaderId:
      f = {"abs", "BIN & ABS|*.bin;*.abs|"};
      break;
    case 0x02FD0100u:
    case 0x02FD0200u:
    case 0x02FD0300u:
      f = {"m2v", "Logo file(*.m2v)|*.m2v|"};
      break;
    case 0x03FC0100u:
      f = {"ddf", "default db(*.ddf)|*.ddf|"};
      break;
    case kUserDatabaseId:
      f = {"udf", "user db(*.udf)|*.udf|"};
      break;
    default:
      f = {"bin", "other file(*.bin)|*.bin|"};
      break;
  }
  f.filter += "All File(*.*)|*.*|";
  return f;
}

int FirstChosenRowKey(const std::vector<RowKeyChoice>& rows) {
  for (const RowKeyChoice& row : rows)
    if (row.chosen) return row.key;
  return 0;
}

bool RowAcceptsChoice(int firstChosenKey, int key) {
  return !(firstChosenKey < 0 && firstChosenKey != key);
}

std::string ImageChunkTooLargeMessage(uint32_t span) {
  return SpanMessage("Die ausgewählte Datei ist Größer als die Zieldatei !!! \n Code Größe: ",
                     span);
}

std::string RawFileTooLargeMessage(uint32_t span) {
  return SpanMessage("Select File large than Slave chunk size \n Code Größe: ", span);
}

FileChoiceResult ChooseFileForKey(int key, const std::string& path, int32_t mode) {
  FileChoiceResult result;
  CUpgradeContext* context = GetContext();
  const TargetChunkTable& table = GetTargetChunkTable();
  const bool chunkRow = key >= 0;
  // A choice is stored only where the context has an entry for it.
  if (context == nullptr || key < kAllcodeNoBootKey ||
      (chunkRow &&
       (static_cast<uint32_t>(key) >= table.chunkCount || key >= kMaxSelectableChunks))) {
    return result;
  }
  ChunkSelection& entry = context->Selections[key + 2];
  if (mode != 0) {
    entry.FileName = path;
    result.verdict = FileVerdict::Accepted;
    return result;
  }

  std::FILE* file = std::fopen(path.c_str(), "rb");
  struct stat st {};
  if (file == nullptr || ::fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) {
    const int why = file == nullptr ? errno : (S_ISREG(st.st_mode) ? errno : EISDIR);
    if (file != nullptr) std::fclose(file);
    result.verdict = FileVerdict::RefusedError;
    result.message = path + ": " + std::strerror(why);
    return result;
  }
  std::fclose(file);
  const int64_t size = static_cast<int64_t>(st.st_size);
  if (size <= 0) return result;  // an empty file is refused without a word

  if (!chunkRow) {
    entry.FileName = path;
    result.verdict = FileVerdict::Accepted;
    return result;
  }

  const TargetChunkInfo& chunk = table.chunks[key];
  const uint32_t span = ChunkSpan(chunk);
  if (ValidateImage(path)) {
    uint32_t offset = 0, occupied = 0;
    if (!FindImageChunk(path, chunk.id, offset, occupied)) {
      result.verdict = FileVerdict::RefusedWarning;
      result.message = kMsgNoChunk;
      return result;
    }
    if (occupied > span) {
      result.verdict = FileVerdict::RefusedWarning;
      result.message = ImageChunkTooLargeMessage(span);
      return result;
    }
    entry.FileOffset = static_cast<int32_t>(offset);
    entry.FileLength = static_cast<int32_t>(occupied);
    entry.IsImageChunk = 1;
    entry.FileName = path;
    result.verdict = FileVerdict::Accepted;
    return result;
  }

  const bool fits =
      size + 128 <= int64_t{span} || (ChunkTypeOf(chunk.id) == 1 && size <= int64_t{span});
  if (!fits) {
    result.verdict = FileVerdict::RefusedWarning;
    result.message = RawFileTooLargeMessage(span);
    return result;
  }
  entry.FileOffset = 0;
  entry.FileLength = static_cast<int32_t>(size);
  entry.IsImageChunk = 0;
  entry.FileName = path;
  result.verdict = FileVerdict::Accepted;
  return result;
}

}  // namespace stb
