#include "operations/upgrade.h"

#include <sys/stat.h>

#include <climits>
#include <cstdio>
#include <memory>
#include <new>

#include "context/connect.h"
#include "context/error_table.h"
#include "context/notifications.h"
#include "context/upgrade_context.h"
#include "image/chunk_header.h"
#include "image/chunk_table.h"
#include "image/crc32.h"
#include "image/input_file.h"
#include "link/clock.h"
#include "operations/chunk_text.h"
#include "protocol/dispatcher.h"

namespace stb {

namespace {
struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The file's size in bytes, or -1.
int64_t FileSize(std::FILE* f) {
  struct stat st {};
  if (::fstat(fileno(f), &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool ReadAt(std::FILE* f, int64_t offset, uint8_t* to, size_t count) {
  if (::fseeko(f, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
  return std::fread(to, 1, count, f) == count;
}
}  // namespace

uint32_t& BurnSize() {
  static uint32_t size = 0;
  return size;
}

int RunUpgrade() {
  CUpgradeContext* context = GetContext();
  const TargetChunkTable& table = GetTargetChunkTable();
  const std::string& noBoot = context->Selections[0].FileName;
  const std::string& allcode = context->Selections[1].FileName;
  const bool wholeImage = !noBoot.empty() || !allcode.empty();
  const bool skipFirst = !noBoot.empty();
  BurnSize() = 0;
  const uint32_t address = skipFirst ? table.chunks[0].nextOffset : 0;

  PostWorkerText("Sende Adresse.", true);
  int result = LoaderSetAddress(address);
  if (result != 0) return result;

  if (wholeImage) {
    result = DownloadAllcode(skipFirst ? noBoot : allcode, !skipFirst);
    SleepMs(1000);
  } else {
    result = DownloadChunks();
  }
  if (result != 0) return result;

  // The last look at the cancel flag: a cancel taken up to here means nothing is
  // burned and the box is not restarted.
  if (!EnterFlashing()) return err::kCancelled;
  ReportProgress(0);
  PostWorkerText("FLASHE ! NICHT AUSSCHALTEN !!", true);
  PostWorkerMessage(WM_WORKER_FLASHING, 0, 0);
  result = LoaderBurn(static_cast<int32_t>(BurnSize()), &ReportProgress);
  LoaderReboot();  // also after a failed burn: the box must not stay in its loader
  return result;
}

int DownloadAllcode(const std::string& fileName, bool withFirstChunk) {
  PostWorkerText("Downloade Allcode ", true);
  File file(OpenInputStream(fileName));
  if (!file) return err::kFileNotOpen;
  const uint32_t skip = withFirstChunk ? 0 : GetTargetChunkTable().chunks[0].nextOffset;
  const int64_t length = FileSize(file.get());
  if (length < 0) return err::kReadFileData;
  const int64_t count = length - skip;
  // A file shorter than the skipped boot loader gets no buffer, as does one too large
  // for a single transfer.
  if (count < 0 || count > INT32_MAX) return err::kMalloc;
  BurnSize() = static_cast<uint32_t>(count);
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[count > 0 ? count : 1]());
  if (!buffer) return err::kMalloc;
  if (!ReadAt(file.get(), skip, buffer.get(), static_cast<size_t>(count))) {
    return err::kReadFileData;
  }
  file.reset();
  return LoaderDownload(buffer.get(), static_cast<int32_t>(count), &ReportProgress,
                        &IsCancelRequested);
}

int DownloadChunks() {
  CUpgradeContext* context = GetContext();
  TargetChunkTable& table = GetTargetChunkTable();
  const uint32_t count = std::min<uint32_t>(table.chunkCount, kMaxTableChunks);
  BurnSize() = 0;
  for (uint32_t i = 0; i < count; ++i) {
    table.chunks[i].download = 0;
    // Chunks beyond the context's entries can take no file.
    if (i < kMaxSelectableChunks && !context->Selections[2 + i].FileName.empty()) {
      table.chunks[i].download = 1;
      BurnSize() += static_cast<uint32_t>(context->Selections[2 + i].FileLength);
    }
  }
  for (uint32_t i = 0; i < count; ++i) {
    // The moves do not look at the cancel flag; a cancel ends the upgrade here.
    if (IsCancelRequested() != 0) return err::kCancelled;
    const TargetChunkInfo& chunk = table.chunks[i];
    int result;
    if (chunk.download != 0) {
      const std::string status = "Downloade Code:" + ChunkText(chunk.name);
      PostWorkerText(status.c_str(), true);
      result = DownloadChunk(i);
      SleepMs(500);
    } else {
      const std::string status = "Nichtladen:" + ChunkText(chunk.name);
      PostWorkerText(status.c_str(), true);
      result = LoaderMove(chunk.id, chunk.id == kUserDatabaseId ? 0 : chunk.nextOffset);
    }
    if (result != 0) return result;
  }
  return err::kSuccess;
}

int DownloadChunk(uint32_t slot) {
  CUpgradeContext* context = GetContext();
  const TargetChunkTable& table = GetTargetChunkTable();
  if (slot >= table.chunkCount || slot >= kMaxSelectableChunks) return err::kGeneric;
  const TargetChunkInfo& chunk = table.chunks[slot];
  const ChunkSelection& choice = context->Selections[2 + slot];

  const uint32_t span = ChunkSpan(chunk);
  BurnSize() += span;
  // A span that cannot hold a header is no chunk the box could take.
  if (span < kChunkHeaderSize || span > INT32_MAX) return err::kGeneric;
  std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[span]);
  if (!buffer) return err::kMalloc;
  std::fill_n(buffer.get(), span, 0xFF);

  File file(OpenInputStream(choice.FileName));
  if (!file) return err::kFileNotOpen;
  const int type = ChunkTypeOf(chunk.id);
  const bool freshHeader = choice.IsImageChunk == 0 && type != 1;
  const uint32_t dataPos = freshHeader ? kChunkHeaderSize : 0;
  if (freshHeader) WriteChunkHeader(chunk, buffer.get());

  // The file was checked against the span when it was chosen; it may have changed
  // since. Whatever it holds now must still be exactly what was chosen and fit.
  const int64_t fileSize = FileSize(file.get());
  const int64_t length = choice.FileLength;
  const int64_t offset = choice.FileOffset;
  const bool sameFile = choice.IsImageChunk != 0 ? offset + length <= fileSize : length == fileSize;
  if (length < 0 || offset < 0 || !sameFile || dataPos + length > span) return err::kReadFileData;
  if (!ReadAt(file.get(), offset, buffer.get() + dataPos, static_cast<size_t>(length))) {
    return err::kReadFileData;
  }
  file.reset();

  if (choice.IsImageChunk != 0) {
    WriteBe32(buffer.get() + 8, chunk.nextOffset);
  } else if (type == 1) {
    PatchChunkHeader(chunk, buffer.get());
  }
  if (freshHeader && chunk.crc != NoCrcMarker) {
    const uint32_t n = static_cast<uint32_t>(length) + 112;
    WriteBe32(buffer.get() + 4, n);
    WriteBe32(buffer.get() + 12, Crc32Of(buffer.get() + 16, static_cast<int32_t>(n)));
  }
  SleepMs(100);
  return LoaderDownload(buffer.get(), static_cast<int32_t>(span), &ReportProgress,
                        &IsCancelRequested);
}

}  // namespace stb
