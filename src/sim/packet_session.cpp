#include "sim/packet_session.h"

#include <cstdio>

#include "sim/box_codes.h"
#include "sim/box_crc.h"
#include "sim/packet_io.h"
#include "sim/text_console.h"

namespace stb::sim {

namespace {
std::string CodeText(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, value >= 0x10000 ? "0x%X" : "%u", value);
  return text;
}
}  // namespace

void PacketSession::Reset() {
  exchange_ = Exchange{};
  dump_ = DumpState{};
  download_ = DownloadState{};
  rebooted_ = false;
}

bool PacketSession::TakeReboot() {
  const bool r = rebooted_;
  rebooted_ = false;
  return r;
}

bool PacketSession::TakePacket() {
  BoxPacket packet;
  uint32_t code = 0;
  switch (ReceivePacketAfterH(ctx_, packet, code)) {
    case ReceiveOutcome::NotPacket:
      return false;
    case ReceiveOutcome::Dropped:
      return true;
    case ReceiveOutcome::BadPayload:
      // The header is sound, so the loader can still tell the tool what went wrong.
      ReplyStatus(packet, BoxStatus::Error, code, "Error " + CodeText(code), false);
      return true;
    case ReceiveOutcome::Ok:
      break;
  }
  OnPacket(packet);
  return true;
}

void PacketSession::OnPacket(const BoxPacket& packet) {
  switch (static_cast<BoxPacketType>(packet.type)) {
    case BoxPacketType::Command:
      OnCommand(packet);
      return;
    case BoxPacketType::Data:
      if (download_.active && packet.sequence == download_.sequence) {
        OnDownloadData(packet);
        return;
      }
      break;
    case BoxPacketType::Request:
      if (dump_.active && packet.sequence == dump_.sequence) {
        OnDumpRequest(packet);
        return;
      }
      if (download_.active && packet.sequence == download_.sequence) {
        OnDownloadRequest(packet);
        return;
      }
      break;
    case BoxPacketType::Status:
      if (packet.length >= 1 && packet.payload[0] == uint8_t(BoxStatus::Abort) &&
          (dump_.active || download_.active)) {
        EndBulk("aborted by the tool");
        return;
      }
      break;
  }
  ctx_.log.Printf("%s seq=%u retry=%u (length %u) outside any transfer of this sequence: ignored",
                  PacketTypeName(packet.type), packet.sequence, packet.retry, packet.length);
}

void PacketSession::OnCommand(const BoxPacket& packet) {
  std::string text(packet.payload.begin(), packet.payload.end());
  const std::string shown = Printable(text);
  if (exchange_.valid && packet.retry > 0 && packet.sequence == exchange_.sequence &&
      text == exchange_.text) {
    ++ctx_.counters.repeatsAnswered;
    ctx_.log.Printf("Command seq=%u retry=%u \"%s\": repeat, %zu kept repl%s sent again",
                    packet.sequence, packet.retry, shown.c_str(), exchange_.replies.size(),
                    exchange_.replies.size() == 1 ? "y" : "ies");
    for (const BoxPacket& reply : exchange_.replies) SendPacket(ctx_, reply, "repeat");
    return;
  }
  EndBulk("a new command came");
  exchange_ = Exchange{true, packet.sequence, text, {}};
  if (!text.empty() && text.back() == '\r') text.pop_back();
  ctx_.log.Printf("Command seq=%u retry=%u \"%s\"", packet.sequence, packet.retry, shown.c_str());
  ++ctx_.counters.commandsExecuted;
  Execute(packet, text);
}

void PacketSession::Execute(const BoxPacket& packet, const std::string& text) {
  const std::vector<std::string> words = Words(text);
  const std::string name = words.empty() ? "" : words[0];
  uint32_t value = 0;
  if (ctx_.faults.ErrorFor(name, value)) {
    ReplyStatus(packet, BoxStatus::Error, value, "Error " + CodeText(value) + " (fault error)");
    return;
  }
  const size_t args = words.empty() ? 0 : words.size() - 1;
  if (name == "version" && args == 0) {
    uint8_t v[4];
    PutBe32(v, ctx_.ReportedVersion());
    char what[32];
    std::snprintf(what, sizeof what, "version 0x%X", ctx_.ReportedVersion());
    ReplyData(packet, 0, std::vector<uint8_t>(v, v + 4), what);
  } else if (name == "chunk" && args == 0) {
    std::string warning;
    const std::vector<uint8_t> table = ctx_.flash.ChunkTableData(warning);
    if (!warning.empty()) ctx_.log.Line("chunk table: " + warning);
    ReplyData(packet, 0, table,
              "chunk table of " + std::to_string((table.size() - 2) / kHeaderBytes) + " chunks");
  } else if (name == "address") {
    Address(packet, words);
  } else if (name == "move") {
    Move(packet, words);
  } else if (name == "burn" && args == 0) {
    Burn(packet);
  } else if (name == "reboot" && args == 0) {
    ctx_.flash.EndSession();
    ++ctx_.counters.reboots;
    rebooted_ = true;
    ReplyStatus(packet, BoxStatus::Ack, 0, "Ack: rebooting, session ends");
  } else if (name == "dump") {
    Dump(packet, words);
  } else if (name == "transfer") {
    Transfer(packet, words);
  } else {
    ReplyStatus(packet, BoxStatus::Error, kBoxUnknownCommand, "Error 33: command not known");
  }
}

void PacketSession::Address(const BoxPacket& packet, const std::vector<std::string>& words) {
  uint32_t address = 0;
  if (words.size() != 2 || !ParseDecimal(words[1], address)) {
    ReplyStatus(packet, BoxStatus::Error, kBoxParameter, "Error 0x10000: bad parameters");
    return;
  }
  const int r = ctx_.flash.SetAddress(address);
  if (r != 0) {
    ReplyStatus(packet, BoxStatus::Error, static_cast<uint32_t>(r),
                "Error " + CodeText(static_cast<uint32_t>(r)) + ": beyond the flash");
    return;
  }
  ReplyStatus(packet, BoxStatus::Ack, 0, "Ack: write position " + std::to_string(address));
}

void PacketSession::Move(const BoxPacket& packet, const std::vector<std::string>& words) {
  uint32_t id = 0, n = 0;
  if (words.size() != 3 || !ParseDecimal(words[1], id) || !ParseDecimal(words[2], n)) {
    ReplyStatus(packet, BoxStatus::Error, kBoxParameter, "Error 0x10000: bad parameters");
    return;
  }
  const uint32_t at = ctx_.flash.Position();
  const int r = ctx_.flash.Move(id, n);
  char what[96];
  if (r != 0) {
    std::snprintf(what, sizeof what, "Error 0x%X: move 0x%08X by %u at %u refused", r, id, n, at);
    ReplyStatus(packet, BoxStatus::Error, static_cast<uint32_t>(r), what);
    return;
  }
  std::snprintf(what, sizeof what, "Ack: chunk 0x%08X kept, write position %u -> %u", id, at,
                at + n);
  ReplyStatus(packet, BoxStatus::Ack, 0, what);
}

void PacketSession::EndBulk(const char* why) {
  if (dump_.active) ctx_.log.Printf("dump seq=%u ends: %s", dump_.sequence, why);
  if (download_.active && !download_.complete)
    ctx_.log.Printf("download seq=%u abandoned after %zu of %u bytes (%s); nothing written",
                    download_.sequence, download_.data.size(), download_.wireSize, why);
  dump_ = DumpState{};
  download_ = DownloadState{};
}

void PacketSession::Reply(const BoxPacket& reply, const std::string& what, bool keep) {
  if (keep && exchange_.valid && reply.sequence == exchange_.sequence)
    exchange_.replies.push_back(reply);
  ctx_.log.Printf("  -> %s seq=%u: %s", PacketTypeName(reply.type), reply.sequence, what.c_str());
  SendPacket(ctx_, reply, what);
}

void PacketSession::ReplyLost(const BoxPacket& reply, const std::string& what, bool garbled) {
  if (exchange_.valid && reply.sequence == exchange_.sequence) exchange_.replies.push_back(reply);
  const uint32_t n = ctx_.faults.NextReply();
  ++ctx_.counters.repliesSent;
  if (!garbled) {
    ctx_.log.Printf("  -> %s seq=%u: %s: reply %u lost (fault)", PacketTypeName(reply.type),
                    reply.sequence, what.c_str(), n);
    return;
  }
  std::vector<uint8_t> bytes = EncodeBoxPacket(reply);
  bytes[15] ^= 0x5A;
  ctx_.log.Printf("  -> %s seq=%u: %s: reply %u with a wrong header CRC (fault)",
                  PacketTypeName(reply.type), reply.sequence, what.c_str(), n);
  SendRaw(ctx_, bytes);
}

void PacketSession::ReplyStatus(const BoxPacket& to, BoxStatus status, uint32_t value,
                                const std::string& what, bool keep) {
  Reply(MakeStatusPacket(to.sequence, to.retry, status, value), what, keep);
}

void PacketSession::ReplyData(const BoxPacket& to, uint32_t number,
                              const std::vector<uint8_t>& data, const std::string& what,
                              bool keep) {
  Reply(MakeDataPacket(to.sequence, to.retry, number, data.data(), data.size()), what, keep);
}

}  // namespace stb::sim
