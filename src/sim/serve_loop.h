// The box's main loop: the console before a handshake, then a legacy or packet session.
#pragma once

#include "sim/box_context.h"

namespace stb::sim {

// Serves until the line is asked to stop.
void ServeLoop(BoxContext& ctx);

}  // namespace stb::sim
