// What `info` prints about a connected box.
#pragma once

#include <cstdint>
#include <string>

#include "image/chunk_table.h"

namespace stb::cli {

std::string InfoText(uint32_t protocolVersion, const TargetChunkTable& table);
std::string InfoJson(uint32_t protocolVersion, const TargetChunkTable& table);
// {"result": ..., "code": ..., "message": ...}
std::string ResultJson(const char* result, int32_t code, const std::string& message);

}  // namespace stb::cli
