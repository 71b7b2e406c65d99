// Error codes of the tool and of the box's loader, and their texts.
#pragma once

#include <cstddef>
#include <cstdint>

namespace stb {

// Codes used by name in the code; every other code is just its number.
namespace err {
inline constexpr int32_t kSuccess = 0;
inline constexpr int32_t kGeneric = 1;
inline constexpr int32_t kPortConnect = 2;
inline constexpr int32_t kSendData = 3;
inline constexpr int32_t kEchoMismatch = 4;
inline constexpr int32_t kSendCommand = 5;
inline constexpr int32_t kCancelled = 6;
inline constexpr int32_t kNotConnected = 7;
inline constexpr int32_t kReadTimeout = 8;
inline constexpr int32_t kCrc = 9;
inline constexpr int32_t kTargetError = 10;
inline constexpr int32_t kTargetUnrecognised = 11;
inline constexpr int32_t kOverrunRetry = 12;
inline constexpr int32_t kBurnFailed = 13;
inline constexpr int32_t kDumpLength = 14;
inline constexpr int32_t kOpenFile = 18;
inline constexpr int32_t kDumpFailed = 21;
inline constexpr int32_t kReadData = 23;
inline constexpr int32_t kSendPacketHead = 24;
inline constexpr int32_t kSendPacketData = 25;
inline constexpr int32_t kSendPacketCrc = 26;
inline constexpr int32_t kNoPacket = 27;
inline constexpr int32_t kReceiveHead = 28;
inline constexpr int32_t kHeadCrc = 29;
inline constexpr int32_t kReceiveData = 30;
inline constexpr int32_t kDataCrc = 31;
inline constexpr int32_t kPacketUnrecognised = 32;
inline constexpr int32_t kCommandUnrecognised = 33;
inline constexpr int32_t kCompressData = 34;
inline constexpr int32_t kNotAllData = 35;
inline constexpr int32_t kFileNotOpen = 36;
inline constexpr int32_t kReadFileData = 37;
inline constexpr int32_t kWriteFileData = 38;
inline constexpr int32_t kMalloc = 39;
inline constexpr int32_t kSendPacket = 40;
inline constexpr int32_t kEncoderNotStarted = 41;  // has no text: never reaches the user
inline constexpr int32_t kBoxFirst = 0x10000;      // box's own codes start here
inline constexpr int32_t kBoxCodeNotFound = 0x10003;
inline constexpr int32_t kBoxNotDumpAll = 0x10006;
// The tool's own codes, beyond both ranges of the table above; their texts are in
// ToolErrorTable.
inline constexpr int32_t kToolFirst = 0x20000;
inline constexpr int32_t kDumpEmpty = 0x20001;
inline constexpr int32_t kChunkRange = 0x20002;
inline constexpr int32_t kNotRegularFile = 0x20003;
}  // namespace err

struct ErrorRecord {
  int32_t code;
  const char* text;
};

inline constexpr std::size_t kErrorTableSize = 48;
extern const ErrorRecord ErrorTable[kErrorTableSize];

inline constexpr std::size_t kToolErrorTableSize = 3;
extern const ErrorRecord ToolErrorTable[kToolErrorTableSize];

// The text of a code of either table, or null.
const char* ErrorTextOf(int32_t code);

// Writes the code's text followed by "\r\n" into out (room for 256 characters) and
// returns 1; returns 0 and leaves out unchanged for a code without a text.
int LookupErrorText(int32_t code, char* out);

}  // namespace stb
