// Download in 1024-byte blocks, each followed by its CRC and answered by the box.
#include <algorithm>
#include <cstdio>

#include "context/error_table.h"
#include "image/crc32.h"
#include "link/port.h"
#include "protocol/legacy.h"
#include "protocol/legacy_common.h"

namespace stb {

namespace {
// The fifth rejection of the same block in a row gives up.
constexpr int kMaxRejections = 5;
}  // namespace

int LegacyDownload(uint8_t* data, int32_t size, ProgressCallback progress, CancelQuery cancel) {
  char text[32];
  std::snprintf(text, sizeof text, "transferraw %d\r", size);
  if (int rc = legacy::StartCommand(text); rc != 0) return rc;
  if (int rc = legacy::ReadAcceptance(1000); rc != 0) return rc;
  if (size <= 0) return err::kSuccess;

  int32_t sent = 0;
  int rejections = 0;
  while (sent < size) {
    if (rejections >= kMaxRejections) return err::kOverrunRetry;
    if (legacy::IsCancelled(cancel)) return err::kCancelled;

    const int32_t length = std::min(kLegacyBlockSize, size - sent);
    uint8_t crc[4];
    legacy::WriteBigEndian32(Crc32Of(data + sent, length), crc);
    if (PortWrite(data + sent, length) != length) return err::kSendData;
    if (PortWrite(crc, 4) != 4) return err::kSendData;

    uint8_t answer = 0;
    if (int rc = legacy::ReadLetter(answer, 10000); rc != 0) return rc;
    if (answer == legacy::kAccepted) {
      rejections = 0;
      sent += length;
      legacy::Report(progress, legacy::Percent(sent, size));
    } else if (answer == legacy::kRejected) {
      ++rejections;  // the same block goes again
    } else {
      return err::kTargetUnrecognised;
    }
  }
  return err::kSuccess;
}

}  // namespace stb
