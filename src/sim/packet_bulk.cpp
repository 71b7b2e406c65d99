// The packet loader's bulk work: dumps, downloads and the burn.
#include <algorithm>
#include <cstdio>

#include "sim/box_codes.h"
#include "sim/box_crc.h"
#include "sim/lzma_unpack.h"
#include "sim/packet_io.h"
#include "sim/packet_session.h"
#include "sim/text_console.h"

namespace stb::sim {

namespace {
// Compressed data larger than this cannot be a flash image of 2 MiB.
constexpr uint32_t kMaxCompressed = 4u << 20;
constexpr uint32_t kBurnReportUnits = 64;

bool AllErased(const std::vector<uint8_t>& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](uint8_t b) { return b == 0xFF; });
}
}  // namespace

void PacketSession::Dump(const BoxPacket& packet, const std::vector<std::string>& words) {
  uint32_t start = 0, length = 0;
  if (words.size() != 3 || !ParseDecimal(words[1], start) || !ParseDecimal(words[2], length)) {
    ReplyStatus(packet, BoxStatus::Error, kBoxParameter, "Error 0x10000: bad parameters");
    return;
  }
  const uint64_t size = ctx_.flash.Size();
  if (start > size || (length != 0 && uint64_t{start} + length > size)) {
    ReplyStatus(packet, BoxStatus::Error, kBoxAddressOverflow,
                "Error 0x10001: range beyond the flash");
    return;
  }
  dump_ = DumpState{true, packet.sequence, start,
                    length != 0 ? length : static_cast<uint32_t>(size - start)};
  ReplyStatus(packet, BoxStatus::Ack, 0,
              "Ack: dump of " + std::to_string(dump_.total) + " bytes from " +
                  std::to_string(start) + " in packets of " +
                  std::to_string(ctx_.options.dumpPacket));
}

void PacketSession::OnDumpRequest(const BoxPacket& packet) {
  if (packet.length != 4) {
    ctx_.log.Printf("Request seq=%u with %u payload bytes: ignored", packet.sequence,
                    packet.length);
    return;
  }
  const uint32_t wanted = GetBe32(packet.payload.data());
  const FaultState& faults = ctx_.faults;
  if (wanted == 0) {
    const uint32_t total = faults.Config().dumpTotalZero ? 0 : dump_.total;
    uint8_t t[4];
    PutBe32(t, total);
    ReplyData(packet, 0, std::vector<uint8_t>(t, t + 4),
              "dump packet 0: total " + std::to_string(total) +
                  (faults.Config().dumpTotalZero ? " (fault dump-total-zero)" : ""),
              false);
    return;
  }
  if (faults.Config().dumpDoneAt == wanted) {
    ReplyStatus(packet, BoxStatus::Done, 0,
                "Done instead of dump packet " + std::to_string(wanted) + " (fault dump-done)",
                false);
    return;
  }
  uint32_t number = wanted;
  std::string note;
  if (ctx_.faults.TakeWrongDumpNumber(wanted)) {
    number = wanted - 1;
    note = " instead of " + std::to_string(wanted) + " (fault dump-wrong-number)";
  }
  const uint64_t offset = uint64_t{number - 1} * ctx_.options.dumpPacket;
  if (offset >= dump_.total) {
    ReplyStatus(packet, BoxStatus::Done, 0,
                "Done: request " + std::to_string(wanted) + " lies behind the dump's end", false);
    return;
  }
  const uint32_t n =
      static_cast<uint32_t>(std::min<uint64_t>(ctx_.options.dumpPacket, dump_.total - offset));
  std::vector<uint8_t> bytes(n);
  ctx_.flash.Read(dump_.start + static_cast<uint32_t>(offset), n, bytes.data());
  const bool blank = AllErased(bytes);
  Reply(MakeDataPacket(packet.sequence, packet.retry, number, bytes.data(), n, blank),
        "dump packet " + std::to_string(number) + ": " + std::to_string(n) + " bytes" +
            (blank ? " (blank)" : "") + note,
        false);
}

void PacketSession::Transfer(const BoxPacket& packet, const std::vector<std::string>& words) {
  const bool compressed = words.size() == 4 && words[1] == "-z";
  uint32_t plain = 0, wire = 0;
  bool parsed = false;
  if (compressed) {
    parsed = ParseDecimal(words[2], plain) && ParseDecimal(words[3], wire);
  } else if (words.size() == 2 && ParseDecimal(words[1], plain)) {
    wire = plain;
    parsed = true;
  }
  // A compressed stream has its 13-byte header at least; sizes are signed on the tool's side.
  if (!parsed || plain > 0x7FFFFFFF || (compressed && wire < 13)) {
    ReplyStatus(packet, BoxStatus::Error, kBoxParameter, "Error 0x10000: bad parameters");
    return;
  }
  if (const int r = ctx_.flash.CheckRoom(plain); r != 0) {
    ReplyStatus(packet, BoxStatus::Error, static_cast<uint32_t>(r),
                r == int(kBoxAddressNotSet) ? "Error 0x10002: no address set"
                                            : "Error 0x10001: does not fit behind the address");
    return;
  }
  if (wire > kMaxCompressed) {
    ReplyStatus(packet, BoxStatus::Error, kBoxNoBuffer, "Error 0x10005: too much data");
    return;
  }
  if (ctx_.faults.Config().transferDone) {
    ReplyStatus(packet, BoxStatus::Done, 0, "Done instead of Ack (fault transfer-done)");
    return;
  }
  if (ctx_.faults.Config().transferWorking) {
    ReplyStatus(packet, BoxStatus::Working, 0, "Working instead of Ack (fault transfer-working)");
    download_ = DownloadState{};
    download_.active = true;
    download_.busy = true;
    download_.sequence = packet.sequence;
    return;
  }
  ReplyStatus(packet, BoxStatus::Ack, 0,
              "Ack: expecting " + std::to_string(wire) + " bytes" +
                  (compressed ? " of LZMA data for " + std::to_string(plain) : "") + " at " +
                  std::to_string(ctx_.flash.Position()));
  if (wire == 0) return;
  download_ = DownloadState{};
  download_.active = true;
  download_.sequence = packet.sequence;
  download_.compressed = compressed;
  download_.plainSize = plain;
  download_.wireSize = wire;
  download_.data.reserve(wire);
}

void PacketSession::OnDownloadData(const BoxPacket& packet) {
  if (packet.length < 4) {
    ctx_.log.Printf("Data seq=%u without a packet number: ignored", packet.sequence);
    return;
  }
  const uint32_t number = GetBe32(packet.payload.data());
  DownloadState& d = download_;
  if (d.busy) {
    ReplyStatus(packet, BoxStatus::Working, 0,
                "Working to data packet " + std::to_string(number) + " (fault transfer-working)",
                false);
    return;
  }
  if (d.failedWith != 0) {
    ReplyStatus(packet, BoxStatus::Error, d.failedWith,
                "Error " + std::to_string(d.failedWith) + ": the transfer has failed", false);
    return;
  }
  if (number != d.held + 1 || d.complete) {
    // Either held already (its Ack was lost) or out of order: say what the box holds.
    const uint32_t held = number <= d.held ? number : d.held;
    ReplyStatus(packet, BoxStatus::Ack, held,
                "Ack " + std::to_string(held) + ": data packet " + std::to_string(number) +
                    (number <= d.held ? " held already" : " out of order, not taken"),
                false);
    return;
  }
  const uint32_t bytes = packet.length - 4;
  if (d.data.size() + bytes > d.wireSize) {
    d.failedWith = kBoxNoBuffer;
    ReplyStatus(packet, BoxStatus::Error, kBoxNoBuffer,
                "Error 0x10005: data packet " + std::to_string(number) + " runs past the " +
                    std::to_string(d.wireSize) + " announced bytes",
                false);
    return;
  }
  d.data.insert(d.data.end(), packet.payload.begin() + 4, packet.payload.end());
  d.held = number;
  if (d.data.size() == d.wireSize) {
    if (const uint32_t r = FinishDownload(); r != 0) {
      d.failedWith = r;
      ReplyStatus(packet, BoxStatus::Error, r, "Error " + std::to_string(r) + " on the last packet",
                  false);
      return;
    }
    d.complete = true;
  }
  ReplyStatus(packet, BoxStatus::Ack, number,
              "Ack " + std::to_string(number) + " (" + std::to_string(d.data.size()) + " of " +
                  std::to_string(d.wireSize) + " bytes)",
              false);
}

void PacketSession::OnDownloadRequest(const BoxPacket& packet) {
  const uint32_t number = packet.length >= 4 ? GetBe32(packet.payload.data()) : 0;
  if (download_.busy) {
    ReplyStatus(
        packet, BoxStatus::Working, 0,
        "Working to the query for packet " + std::to_string(number) + " (fault transfer-working)",
        false);
    return;
  }
  if (download_.failedWith != 0) {
    ReplyStatus(packet, BoxStatus::Error, download_.failedWith,
                "Error " + std::to_string(download_.failedWith) + ": the transfer has failed",
                false);
    return;
  }
  const uint32_t held = number <= download_.held ? number : download_.held;
  ReplyStatus(packet, BoxStatus::Ack, held,
              "Ack " + std::to_string(held) + " to the query for packet " + std::to_string(number),
              false);
}

uint32_t PacketSession::FinishDownload() {
  DownloadState& d = download_;
  std::vector<uint8_t> unpacked;
  const std::vector<uint8_t>* bytes = &d.data;
  if (d.compressed) {
    std::string why;
    if (!UnpackLzma(d.data, d.plainSize, unpacked, why)) {
      ctx_.log.Printf("compressed download rejected: %s", why.c_str());
      return kBoxCompressError;
    }
    bytes = &unpacked;
  }
  const uint32_t at = ctx_.flash.Position();
  const int r = ctx_.flash.Write(bytes->data(), static_cast<uint32_t>(bytes->size()));
  if (r != 0) return static_cast<uint32_t>(r);
  ctx_.log.Printf("download complete: %zu bytes written at %u%s", bytes->size(), at,
                  d.compressed ? " (unpacked)" : "");
  return 0;
}

void PacketSession::Burn(const BoxPacket& packet) {
  if (!ctx_.flash.HasStaging()) {
    ReplyStatus(packet, BoxStatus::Error, kBoxCannotBurn, "Error 0x10004: nothing to burn");
    return;
  }
  const BoxFaults& faults = ctx_.faults.Config();
  if (faults.burnAckLost || faults.burnAckGarbled) {
    ReplyLost(MakeStatusPacket(packet.sequence, packet.retry, BoxStatus::Ack, 0), "Ack: burning",
              faults.burnAckGarbled);
  } else {
    ReplyStatus(packet, BoxStatus::Ack, 0, "Ack: burning");
  }
  const uint32_t units = (ctx_.flash.StagedBytes() + 1023) / 1024;
  const bool fails = faults.burnFails;
  uint32_t number = 1;
  auto marker = [&](const std::string& text, bool keep) {
    const std::vector<uint8_t> bytes(text.begin(), text.end());
    ReplyData(packet, number++, bytes, "burn '" + text + "'", keep);
  };
  auto progress = [&](uint32_t done) {
    char text[8];
    std::snprintf(text, sizeof text, "B%04u", std::min<uint32_t>(done, 9999));
    marker(text, false);
  };
  const uint32_t stop = fails ? units / 2 : units;
  for (uint32_t u = kBurnReportUnits; u < stop; u += kBurnReportUnits) progress(u);
  if (fails) {
    ctx_.flash.EndSession();
    ctx_.log.Line("burn fails (fault burn-fail): the flash stays as it was");
    marker("E", true);
    return;
  }
  progress(units);
  std::string saveError;
  ctx_.flash.Commit(ctx_.options.saveFlashFile, saveError);
  ++ctx_.counters.burns;
  if (!saveError.empty()) ctx_.log.Line("flash not saved: " + saveError);
  ctx_.log.Printf("burn committed (%u KiB downloaded)", units);
  marker("F", true);
}

}  // namespace stb::sim
