// The loader information: version and chunk table in one reply to "version -r\r".
#include "context/error_table.h"
#include "image/crc32.h"
#include "protocol/legacy.h"
#include "protocol/legacy_common.h"

namespace stb {

namespace {
// A first number at or above this is a version marker, not the table length.
constexpr uint16_t kVersionMarkerMin = 0xB721;
constexpr uint16_t kVersionMarkerBase = 0xB700;
}  // namespace

int LegacyReadInfo(uint32_t& version, TargetChunkTable& table) {
  if (int rc = legacy::StartCommand("version -r\r"); rc != 0) return rc;

  uint8_t number[2];
  if (int rc = legacy::ReadWithin(number, 2, 1000); rc != 0) return rc;
  uint16_t length = legacy::ReadBigEndian16(number);
  uint32_t reported = 0;
  if (length >= kVersionMarkerMin) {
    reported = length - kVersionMarkerBase;
    if (int rc = legacy::ReadWithin(number, 2, 100); rc != 0) return rc;
    length = legacy::ReadBigEndian16(number);
  }
  if (length > kLegacyInfoBufferSize) return kLegacyInfoRefused;

  uint8_t data[kLegacyInfoBufferSize];
  uint8_t crc[4];
  if (int rc = legacy::ReadWithin(data, length, 5000); rc != 0) return rc;
  if (int rc = legacy::ReadWithin(crc, 4, 100); rc != 0) return rc;
  if (legacy::ReadBigEndian32(crc) != Crc32Of(data, length)) return err::kReadData;

  if (int rc = DecodeChunkTable(data, length, table); rc != 0) return rc;
  version = reported;
  return err::kSuccess;
}

}  // namespace stb
