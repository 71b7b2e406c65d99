// The packet loader (protocol 3.0 and later): commands in Command packets, each
// answered with a Status or Data packet carrying the command's sequence number, and the
// bulk transfers (dump, download) and burn that follow some of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/box_context.h"
#include "sim/box_packet.h"

namespace stb::sim {

class PacketSession {
 public:
  explicit PacketSession(BoxContext& ctx) : ctx_(ctx) {}

  // A new session (after a handshake): no exchange, no transfer.
  void Reset();
  // After an 'H' on the line: takes the packet, if it is one, and answers it. False
  // when the bytes were no packet (they are then left for the text console).
  bool TakePacket();
  // True once after a reboot command.
  bool TakeReboot();

 private:
  struct Exchange {
    bool valid = false;
    uint32_t sequence = 0;
    std::string text;
    std::vector<BoxPacket> replies;  // sent again, unchanged, for a repeated command
  };
  struct DumpState {
    bool active = false;
    uint32_t sequence = 0;
    uint32_t start = 0;
    uint32_t total = 0;
  };
  struct DownloadState {
    bool active = false;
    uint32_t sequence = 0;
    bool compressed = false;
    uint32_t plainSize = 0;
    uint32_t wireSize = 0;
    std::vector<uint8_t> data;
    uint32_t held = 0;  // number of the last data packet taken
    bool complete = false;
    uint32_t failedWith = 0;  // Error value once the transfer has failed
    bool busy = false;        // answers everything with Working (fault)
  };

  void OnPacket(const BoxPacket& packet);
  void OnCommand(const BoxPacket& packet);
  void Execute(const BoxPacket& packet, const std::string& text);
  void EndBulk(const char* why);

  // Sends a reply to `to`; kept replies are sent again for a repeat of the command.
  void Reply(const BoxPacket& reply, const std::string& what, bool keep);
  void ReplyStatus(const BoxPacket& to, BoxStatus status, uint32_t value, const std::string& what,
                   bool keep = true);
  void ReplyData(const BoxPacket& to, uint32_t number, const std::vector<uint8_t>& data,
                 const std::string& what, bool keep = true);
  // A reply the line loses (or garbles, with a wrong header CRC); it is kept, so a
  // repeat of the command gets it whole.
  void ReplyLost(const BoxPacket& reply, const std::string& what, bool garbled);

  void Address(const BoxPacket& packet, const std::vector<std::string>& words);
  void Move(const BoxPacket& packet, const std::vector<std::string>& words);
  void Burn(const BoxPacket& packet);
  void Dump(const BoxPacket& packet, const std::vector<std::string>& words);
  void Transfer(const BoxPacket& packet, const std::vector<std::string>& words);
  void OnDumpRequest(const BoxPacket& packet);
  void OnDownloadData(const BoxPacket& packet);
  void OnDownloadRequest(const BoxPacket& packet);
  // The last data bytes have come: unpack if need be and write them to the staging copy.
  uint32_t FinishDownload();

  BoxContext& ctx_;
  Exchange exchange_;
  DumpState dump_;
  DownloadState download_;
  bool rebooted_ = false;
};

}  // namespace stb::sim
