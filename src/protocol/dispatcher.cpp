#include "protocol/dispatcher.h"

#include "link/link.h"
#include "protocol/bulk_transfer.h"
#include "protocol/command_exchange.h"
#include "protocol/legacy.h"

namespace stb {

namespace {
// The first version whose loader speaks in packets.
constexpr uint32_t kPacketProtocol = 48;
// Asked at every call: the connect changes the version between two operations.
bool SpeaksPackets() {
  return CurrentProtocolVersion() >= kPacketProtocol;
}
}  // namespace

int LoaderReadInfo(uint32_t& version, TargetChunkTable& table) {
  if (!SpeaksPackets()) return LegacyReadInfo(version, table);
  if (int rc = PacketReadVersion(version); rc != 0) return rc;
  return PacketReadChunkTable(table);
}

int LoaderSetAddress(uint32_t address) {
  return SpeaksPackets() ? PacketSetAddress(address) : LegacySetAddress(address);
}

int LoaderMove(uint32_t first, uint32_t second) {
  return SpeaksPackets() ? PacketMove(first, second) : LegacyMove(first, second);
}

int LoaderDownload(uint8_t* data, int32_t size, ProgressCallback progress, CancelQuery cancel) {
  return SpeaksPackets() ? PacketDownload(data, size, progress, cancel)
                         : LegacyDownload(data, size, progress, cancel);
}

int LoaderBurn(int32_t totalBytes, ProgressCallback progress) {
  return SpeaksPackets() ? PacketBurn(totalBytes, progress) : LegacyBurn(totalBytes, progress);
}

int LoaderDump(uint8_t* buffer, int32_t& totalOut, ProgressCallback progress, CancelQuery cancel,
               uint32_t rangeOffset, uint32_t rangeLength) {
  if (SpeaksPackets())
    return PacketDump(buffer, totalOut, progress, cancel, rangeOffset, rangeLength);
  return LegacyDump(buffer, totalOut, progress, cancel, rangeOffset, rangeLength);
}

int LoaderReboot() {
  return SpeaksPackets() ? PacketReboot() : LegacyReboot();
}

}  // namespace stb
