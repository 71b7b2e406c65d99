// Packets on the line: taking one in after its first 'H', and sending one with the
// packet faults applied.
#pragma once

#include <string>

#include "sim/box_context.h"
#include "sim/box_packet.h"

namespace stb::sim {

enum class ReceiveOutcome {
  NotPacket,   // no "HEAD" after the 'H': the bytes were put back as text
  Ok,          // a verified packet
  Dropped,     // broken beyond an answer (half header, bad header CRC): ignored
  BadPayload,  // header good, payload missing, too long or with a wrong CRC
};

// Reads the rest of a packet whose 'H' has been read. For BadPayload `packet` holds the
// verified header and `code` the Error value the loader answers with.
ReceiveOutcome ReceivePacketAfterH(BoxContext& ctx, BoxPacket& packet, uint32_t& code);

// Sends one packet; counts it as a reply and applies noise, CRC and drop faults.
void SendPacket(BoxContext& ctx, const BoxPacket& packet, const std::string& what);

}  // namespace stb::sim
