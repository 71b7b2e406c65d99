#include "operations/file_choice.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "context/upgrade_context.h"
#include "image/chunk_table.h"
#include "image/image_file.h"
#include "image/image_report.h"
#include "image/image_verdict.h"
#include "image/input_file.h"
#include "operations/file_output.h"

namespace stb {

namespace {
std::string SpanMessage(const char* prefix, uint32_t span) {
  char buffer[160];
  std::snprintf(buffer, sizeof buffer, "%s0x%08X", prefix, span);
  return buffer;
}

// Two chunks dumped into one file would leave only the last of them. An "Allcode"
// choice clears every other one, so only chunk rows can meet.
bool ChosenForAnotherChunk(const CUpgradeContext& context, const TargetChunkTable& table, int key,
                           const std::string& path) {
  const int count = static_cast<int>(std::min<uint32_t>(table.chunkCount, kMaxSelectableChunks));
  for (int other = 0; other < count; ++other) {
    const std::string& taken = context.Selections[other + 2].FileName;
    if (other != key && !taken.empty() && SameOutputFile(taken, path)) return true;
  }
  return false;
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

std::string InvalidImageMessage(const std::string& reason) {
  return "The image is not valid: " + reason + ".";
}

FileChoiceResult CheckFileToSend(const std::string& path, bool wholeImage, bool sendInvalidImage,
                                 int64_t& size) {
  FileChoiceResult result;
  uint64_t fileSize = 0;
  int why = 0;
  const int fd = OpenInputFile(path, fileSize, why);
  if (fd < 0) {
    result.verdict = FileVerdict::RefusedError;
    result.message = path + ": " + InputErrorText(why);
    return result;
  }
  ::close(fd);
  size = static_cast<int64_t>(fileSize);
  if (size <= 0) return result;  // an empty file is refused without a word
  if (wholeImage && !sendInvalidImage) {
    // The box takes a whole image as it stands; one that fails the check would
    // leave it unable to start.
    const ImageReport report = InspectImage(path);
    if (!report.valid) {
      result.verdict = FileVerdict::InvalidImage;
      result.message = InvalidImageMessage(ImageVerdictText(report));
      return result;
    }
  }
  result.verdict = FileVerdict::Accepted;
  return result;
}

FileChoiceResult ChooseFileForKey(int key, const std::string& path, int32_t mode,
                                  bool sendInvalidImage) {
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
    if (chunkRow && ChosenForAnotherChunk(*context, table, key, path)) {
      result.verdict = FileVerdict::RefusedWarning;
      result.message = kMsgFileChosenTwice;
      return result;
    }
    entry.FileName = path;
    result.verdict = FileVerdict::Accepted;
    return result;
  }

  int64_t size = 0;
  result = CheckFileToSend(path, !chunkRow, sendInvalidImage, size);
  if (result.verdict != FileVerdict::Accepted) return result;
  if (!chunkRow) {
    entry.FileName = path;
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
