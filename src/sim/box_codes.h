// The codes the box's loader answers with in an Error status.
#pragma once

#include <cstdint>

namespace stb::sim {

inline constexpr uint32_t kBoxReceiveData = 30;     // payload not received
inline constexpr uint32_t kBoxDataCrc = 31;         // payload CRC wrong
inline constexpr uint32_t kBoxUnknownCommand = 33;  // "Command not recognize!"
inline constexpr uint32_t kBoxCompressError = 34;   // bad compressed stream
inline constexpr uint32_t kBoxParameter = 0x10000;  // bad command line parameter
inline constexpr uint32_t kBoxAddressOverflow = 0x10001;
inline constexpr uint32_t kBoxAddressNotSet = 0x10002;
inline constexpr uint32_t kBoxCodeNotFound = 0x10003;
inline constexpr uint32_t kBoxCannotBurn = 0x10004;
inline constexpr uint32_t kBoxNoBuffer = 0x10005;
inline constexpr uint32_t kBoxNotDumpAll = 0x10006;

}  // namespace stb::sim
