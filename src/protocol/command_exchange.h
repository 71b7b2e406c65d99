// Commands of loaders of protocol 3.0 and later that move no bulk data.
#pragma once

#include <cstdint>

#include "image/chunk_table.h"
#include "protocol/callbacks.h"
#include "protocol/packet.h"

namespace stb {

int ExecuteCommand(const char* text, uint32_t timeoutMs, uint8_t* statusOut);

// Whether a packet of the exchange is the answer of the command's own work.
using RepeatAnswer = bool (*)(const LoaderPacket& packet);
// ExecuteCommand for a command whose work answers in packets of its exchange (the
// burn): when the reply to the first attempt is lost, the box is already at work, and
// a repeat reads the work's packets. From the first repeat on, a packet that
// takeOnRepeat accepts ends the exchange with success; it is left in answer and
// answered is set.
int ExecuteCommandOrAnswer(const char* text, uint32_t timeoutMs, RepeatAnswer takeOnRepeat,
                           LoaderPacket& answer, bool& answered);
// buffer holds at least 2048 bytes; on success lengthOut is the reply's length and
// buffer its payload, packet number included.
int ExecuteDataCommand(const char* text, uint32_t timeoutMs, uint8_t* statusOut,
                       uint32_t& lengthOut, uint8_t* buffer);

int PacketReadVersion(uint32_t& version);
int PacketReadChunkTable(TargetChunkTable& table);
int PacketSetAddress(uint32_t address);
int PacketMove(uint32_t first, uint32_t second);
int PacketBurn(int32_t totalBytes, ProgressCallback progress);
int PacketReboot();

}  // namespace stb
