// The command line of stb-box-sim.
#pragma once

#include <string>
#include <vector>

#include "sim/box_sim.h"

namespace stb::sim {

enum class CliOutcome { Run, Help, Error };

// Fills options from the arguments (without the program name).
CliOutcome ParseBoxArguments(const std::vector<std::string>& args, BoxOptions& options,
                             std::string& error);
std::string BoxHelpText();

}  // namespace stb::sim
