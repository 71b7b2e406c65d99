#include "sim/legacy_session.h"

#include <algorithm>
#include <cstdio>

#include "sim/box_codes.h"
#include "sim/box_crc.h"
#include "sim/text_console.h"

namespace stb::sim {

namespace {
constexpr uint32_t kBlockBytes = 1024;
// The tool answers a block at once; a block that does not come within this ends the
// transfer (the tool does not tell the box when the user cancels).
constexpr uint32_t kBlockTimeoutMs = 3000;
constexpr int kMaxRejections = 5;
constexpr uint32_t kBurnReportUnits = 64;
// The tool answers a dump block once it is read, or, after a failed one, once it has
// waited out the rest of it: up to a few seconds.
constexpr uint32_t kAnswerTimeoutMs = 5000;
}  // namespace

LegacySession::BlockHeader LegacySession::FaultyHeader(uint32_t index, uint32_t length) {
  const BoxFaults& f = ctx_.faults.Config();
  const uint32_t sent = ctx_.faults.NextBlock();
  BlockHeader said{index, length};
  if (sent == f.blockIndexFlipAt) {
    said.index ^= 1u << f.blockIndexFlipBit;
    ctx_.log.Printf("  block %u goes out as index %u (fault block-index-flip)", index, said.index);
  }
  if (sent == f.blockLengthFlipAt) {
    said.length ^= 1u << f.blockLengthFlipBit;
    ctx_.log.Printf("  block %u announces %u bytes for %u (fault block-length-flip)", index,
                    said.length, length);
  }
  return said;
}

void LegacySession::Answer(char letter, const std::string& why) {
  ctx_.log.Printf("  -> '%c': %s", letter, why.c_str());
  SendLetter(ctx_, letter);
}

bool LegacySession::IsReboot(const std::string& line) {
  return Words(line) == std::vector<std::string>{"reboot"};
}

bool LegacySession::Reboot() {
  uint32_t value = 0;
  if (ctx_.faults.ErrorFor("reboot", value)) return false;  // Execute says so
  ctx_.log.Line("typed command \"reboot\"");
  ++ctx_.counters.commandsExecuted;
  ctx_.flash.EndSession();
  ++ctx_.counters.reboots;
  ctx_.log.Line("  rebooting: session ends");
  return true;
}

void LegacySession::Execute(const std::string& line) {
  const std::vector<std::string> words = Words(line);
  const std::string name = words.empty() ? "" : words[0];
  if (name.empty()) return;
  ctx_.log.Printf("typed command \"%s\"", Printable(line).c_str());
  ++ctx_.counters.commandsExecuted;
  uint32_t value = 0;
  if (ctx_.faults.ErrorFor(name, value)) {
    if (name == "version" || name == "dump" || name == "reboot")
      ctx_.log.Line("  no answer (fault error)");
    else
      Answer('E', "fault error");
    return;
  }
  if (name == "version" && words.size() == 2 && words[1] == "-r") {
    ReadInfo();
  } else if (name == "address") {
    Address(words);
  } else if (name == "move") {
    Move(words);
  } else if (name == "transferraw") {
    TransferRaw(words);
  } else if (name == "burn" && words.size() == 1) {
    Burn();
  } else if (name == "dump" && words.size() == 1 && ctx_.options.protocol < 32) {
    DumpStream();
  } else if (name == "dump" && ctx_.options.protocol >= 32 &&
             (words.size() == 1 || words.size() == 3)) {
    uint32_t start = 0, length = 0;
    if (words.size() == 3 && (!ParseDecimal(words[1], start) || !ParseDecimal(words[2], length))) {
      ctx_.log.Line("  bad dump range: no answer");
      return;
    }
    DumpBlocks(start, length);
  } else {
    Answer('E', "command not known");
  }
  return;
}

void LegacySession::ReadInfo() {
  std::string warning;
  const std::vector<uint8_t> table = ctx_.flash.ChunkTableData(warning);
  if (!warning.empty()) ctx_.log.Line("chunk table: " + warning);
  const uint32_t version = ctx_.ReportedVersion();
  // The tool reads a first number of 0xB721 or more as the marker; lower versions
  // cannot be told from a table length, so such a box sends none.
  const bool marker = version >= 0x21;
  std::vector<uint8_t> out;
  if (marker) {
    out.push_back(static_cast<uint8_t>((0xB700 + version) >> 8));
    out.push_back(static_cast<uint8_t>(0xB700 + version));
  }
  out.push_back(static_cast<uint8_t>(table.size() >> 8));
  out.push_back(static_cast<uint8_t>(table.size()));
  out.insert(out.end(), table.begin(), table.end());
  uint8_t crc[4];
  PutBe32(crc, BoxCrc(table.data(), table.size()));
  out.insert(out.end(), crc, crc + 4);
  ctx_.log.Printf(
      "  -> loader info: %s, table of %zu bytes (%zu chunks)",
      marker ? ("marker for version " + std::to_string(version)).c_str() : "no version marker",
      table.size(), (table.size() - 2) / kHeaderBytes);
  SendRaw(ctx_, out);
}

void LegacySession::Address(const std::vector<std::string>& words) {
  uint32_t address = 0;
  if (words.size() != 2 || !ParseDecimal(words[1], address)) return Answer('E', "bad parameters");
  if (ctx_.flash.SetAddress(address) != 0) return Answer('E', "address beyond the flash");
  Answer('O', "write position " + std::to_string(address));
}

void LegacySession::Move(const std::vector<std::string>& words) {
  uint32_t id = 0, n = 0;
  if (words.size() != 3 || !ParseDecimal(words[1], id) || !ParseDecimal(words[2], n))
    return Answer('E', "bad parameters");
  const uint32_t at = ctx_.flash.Position();
  char what[96];
  if (const int r = ctx_.flash.Move(id, n); r != 0) {
    std::snprintf(what, sizeof what, "move 0x%08X by %u at %u refused (0x%X)", id, n, at, r);
    return Answer('E', what);
  }
  std::snprintf(what, sizeof what, "chunk 0x%08X kept, write position %u -> %u", id, at, at + n);
  Answer('O', what);
}

void LegacySession::TransferRaw(const std::vector<std::string>& words) {
  uint32_t size = 0;
  if (words.size() != 2 || !ParseDecimal(words[1], size) || size > 0x7FFFFFFF)
    return Answer('E', "bad parameters");
  if (const int r = ctx_.flash.CheckRoom(size); r != 0)
    return Answer(
        'E', r == int(kBoxAddressNotSet) ? "no address set" : "does not fit behind the address");
  Answer('O', "expecting " + std::to_string(size) + " bytes in blocks of 1024");
  std::vector<uint8_t> data;
  data.reserve(size);
  std::vector<uint8_t> block(kBlockBytes + 4);
  int rejections = 0;
  while (data.size() < size) {
    const size_t k = std::min<size_t>(kBlockBytes, size - data.size());
    size_t got = 0;
    if (!ctx_.line.ReadExact(block.data(), k + 4, kBlockTimeoutMs, &got)) {
      ctx_.log.Printf(
          "transfer abandoned after %zu of %u bytes (block: %zu of %zu bytes came);"
          " nothing written",
          data.size(), size, got, k + 4);
      return;
    }
    if (GetBe32(block.data() + k) != BoxCrc(block.data(), k)) {
      if (++rejections >= kMaxRejections) {
        Answer('E', "block CRC wrong for the fifth time: transfer ends, nothing written");
        return;
      }
      Answer('E', "block at " + std::to_string(data.size()) + ": CRC wrong");
      continue;
    }
    rejections = 0;
    data.insert(data.end(), block.begin(), block.begin() + static_cast<long>(k));
    SendLetter(ctx_, 'O');
  }
  const uint32_t at = ctx_.flash.Position();
  ctx_.flash.Write(data.data(), size);
  ctx_.log.Printf("transfer complete: %u bytes written at %u", size, at);
}

void LegacySession::Burn() {
  if (!ctx_.flash.HasStaging()) return Answer('E', "nothing to burn");
  Answer('O', "burning");
  const uint32_t units = (ctx_.flash.StagedBytes() + 1023) / 1024;
  const bool fails = ctx_.faults.Config().burnFails;
  auto progress = [&](uint32_t done) {
    char record[16];
    std::snprintf(record, sizeof record, "B%04uKB", std::min<uint32_t>(done, 9999));
    SendRaw(ctx_, reinterpret_cast<const uint8_t*>(record), 7);
  };
  const uint32_t stop = fails ? units / 2 : units;
  for (uint32_t u = kBurnReportUnits; u < stop; u += kBurnReportUnits) progress(u);
  if (fails) {
    ctx_.flash.EndSession();
    char record[16];
    std::snprintf(record, sizeof record, "E%08X", kBoxCannotBurn);
    ctx_.log.Line("  -> 'E': burn fails (fault burn-fail), the flash stays as it was");
    SendRaw(ctx_, reinterpret_cast<const uint8_t*>(record), 9);
    return;
  }
  progress(units);
  std::string saveError;
  ctx_.flash.Commit(ctx_.options.saveFlashFile, saveError);
  ++ctx_.counters.burns;
  if (!saveError.empty()) ctx_.log.Line("flash not saved: " + saveError);
  Answer('F', "burn committed (" + std::to_string(units) + " KiB downloaded)");
}

void LegacySession::DumpStream() {
  const uint32_t size = ctx_.flash.Size();
  const uint32_t total = ctx_.faults.Config().dumpTotalZero ? 0 : size;
  uint8_t number[4];
  PutBe32(number, total);
  ctx_.log.Printf("  -> stream dump: total %u%s, waiting for 'O'", total,
                  total != size ? " (fault dump-total-zero)" : "");
  SendRaw(ctx_, number, 4);
  uint8_t go = 0;
  if (!ctx_.line.ReadByte(go, 2000)) return ctx_.log.Line("stream dump: no 'O' came, dump ends");
  if (go != 'O') {
    ctx_.line.Unread(&go, 1);
    return ctx_.log.Line("stream dump: answer is not 'O', dump ends");
  }
  uint32_t crc = kBoxCrcStart;
  std::vector<uint8_t> piece(4096);
  for (uint32_t done = 0; done < total;) {
    const uint32_t k = std::min<uint32_t>(static_cast<uint32_t>(piece.size()), total - done);
    ctx_.flash.Read(done, k, piece.data());
    crc = BoxCrcUpdate(crc, piece.data(), k);
    if (!SendRaw(ctx_, piece.data(), k))
      return ctx_.log.Printf("stream dump ends after %u of %u bytes", done, total);
    done += k;
  }
  PutBe32(number, crc);
  SendRaw(ctx_, number, 4);
  ctx_.log.Printf("stream dump: %u bytes and their CRC sent", total);
}

void LegacySession::DumpBlocks(uint32_t start, uint32_t length) {
  const uint64_t size = ctx_.flash.Size();
  const bool headerCrcs = ctx_.options.protocol >= 33;
  if (start > size || uint64_t{start} + length > size) {
    ctx_.log.Printf("block dump: range %u+%u beyond the flash: no answer", start, length);
    return;
  }
  const uint32_t total = length != 0 ? length : static_cast<uint32_t>(size - start);
  // At 33 and above the tool knows a given length; it reads a total only for length 0.
  if (!headerCrcs || length == 0) {
    const uint32_t sent = ctx_.faults.Config().dumpTotalZero ? 0 : total;
    uint8_t number[4];
    PutBe32(number, sent);
    SendRaw(ctx_, number, 4);
    ctx_.log.Printf("  -> block dump: total %u", sent);
    if (sent == 0) return;
  }
  const uint32_t blocks = (total + kBlockBytes - 1) / kBlockBytes;
  for (uint32_t n = 0; n < blocks;) {
    uint8_t request = 0;
    if (!ctx_.line.ReadByte(request, 5000))
      return ctx_.log.Printf("block dump: no request for block %u, dump ends", n);
    if (request != 'H') {
      ctx_.line.Unread(&request, 1);
      return ctx_.log.Printf("block dump: 0x%02X instead of a request, dump ends", request);
    }
    const uint32_t l = std::min(kBlockBytes, total - n * kBlockBytes);
    // A block that is not blank is at least 12 bytes long, since the tool reads 12
    // before it knows which kind it has: a shorter tail carries the bytes behind it.
    std::vector<uint8_t> body(std::max<uint32_t>(l, 12));
    ctx_.flash.Read(start + n * kBlockBytes, static_cast<uint32_t>(body.size()), body.data());
    const bool blank =
        std::all_of(body.begin(), body.begin() + l, [](uint8_t b) { return b == 0xFF; });
    const uint32_t sentLength = blank ? l : static_cast<uint32_t>(body.size());
    const BlockHeader said = FaultyHeader(n, sentLength);
    std::vector<uint8_t> header(headerCrcs ? 16 : 8);
    PutBe32(&header[0], said.index);
    PutBe32(&header[4], said.length);
    if (headerCrcs) {
      // The header CRCs run over the numbers in little-endian order.
      const uint32_t i = said.index, k = said.length;
      const uint8_t nLe[4] = {uint8_t(i), uint8_t(i >> 8), uint8_t(i >> 16), uint8_t(i >> 24)};
      const uint8_t lLe[4] = {uint8_t(k), uint8_t(k >> 8), uint8_t(k >> 16), uint8_t(k >> 24)};
      PutBe32(&header[8], BoxCrc(nLe, 4));
      PutBe32(&header[12], BoxCrc(lLe, 4));
    }
    SendRaw(ctx_, header);
    if (headerCrcs) {
      uint8_t verdict = 0;
      if (!ctx_.line.ReadByte(verdict, 2000))
        return ctx_.log.Printf("block dump: no 'G' for block %u, dump ends", n);
      if (verdict == 'H') {
        ctx_.log.Printf("block %u: header refused by the tool, sent again on request", n);
        continue;
      }
      if (verdict != 'G') {
        ctx_.line.Unread(&verdict, 1);
        return ctx_.log.Printf("block dump: 0x%02X instead of 'G', dump ends", verdict);
      }
    }
    std::vector<uint8_t> out;
    if (blank) {
      static constexpr uint8_t kBlank[8] = {'B', 'L', 'A', 'N', 'K', 'P', 'C', 'K'};
      out.assign(kBlank, kBlank + 8);
    } else {
      out.assign(body.begin(), body.begin() + sentLength);
    }
    uint8_t crc[4];
    PutBe32(crc, BoxCrc(out.data(), out.size()));
    out.insert(out.end(), crc, crc + 4);
    SendRaw(ctx_, out);
    uint8_t answer[9];
    if (!ctx_.line.ReadExact(answer, 9, kAnswerTimeoutMs))
      return ctx_.log.Printf("block dump: no answer to block %u, dump ends", n);
    const bool sound = GetBe32(answer + 5) == BoxCrc(answer, 5) && GetBe32(answer + 1) == n;
    if (sound && answer[0] == 'O') {
      ctx_.log.Printf("block %u (%u bytes%s) taken", n, sentLength, blank ? ", blank" : "");
      ++n;
    } else {
      ctx_.log.Printf("block %u %s: sent again on request", n,
                      sound ? "refused" : "answer garbled");
    }
  }
  ctx_.log.Printf("block dump of %u bytes done", total);
}

}  // namespace stb::sim
