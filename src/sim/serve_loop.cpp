#include "sim/serve_loop.h"

#include "sim/legacy_session.h"
#include "sim/packet_session.h"
#include "sim/text_console.h"

namespace stb::sim {

namespace {
enum class Mode { Console, Legacy, Packet };
}

void ServeLoop(BoxContext& ctx) {
  Mode mode = Mode::Console;
  TextLine text;
  PacketSession packets(ctx);
  LegacySession legacy(ctx);
  ctx.log.Printf("serving on %s as a %s box, protocol %u (0x%X), reports version %u",
                 ctx.line.SlavePath().c_str(), ctx.IsPacketBox() ? "packet" : "legacy",
                 ctx.options.protocol, ctx.options.protocol, ctx.ReportedVersion());
  while (!ctx.line.Stopping()) {
    uint8_t byte = 0;
    if (!ctx.line.ReadByte(byte, 200)) continue;
    // Outside a packet everything is typed text; a packet starts with the 'H' of "HEAD".
    if (mode == Mode::Packet && byte == 'H' && packets.TakePacket()) {
      text.Clear();
      if (packets.TakeReboot()) mode = Mode::Console;
      continue;
    }
    std::string line;
    const bool complete = text.Add(byte, line, ctx.log);
    const bool rebooted =
        complete && mode == Mode::Legacy && LegacySession::IsReboot(line) && legacy.Reboot();
    SendRaw(ctx, &byte, 1);  // the console echoes every character
    if (!complete) continue;
    if (rebooted) {
      mode = Mode::Console;
      continue;
    }
    uint32_t count = 0;
    if (ParseComtest(line, count)) {
      if (AnswerIdentification(ctx, count)) {
        mode = ctx.IsPacketBox() ? Mode::Packet : Mode::Legacy;
        packets.Reset();
        ctx.flash.EndSession();
      }
    } else if (mode == Mode::Legacy) {
      legacy.Execute(line);
    } else if (!line.empty()) {
      ctx.log.Printf("typed line \"%s\" ignored (%s)", Printable(line).c_str(),
                     mode == Mode::Console ? "no session: handshake first"
                                           : "a packet box takes commands in packets");
    }
  }
}

}  // namespace stb::sim
