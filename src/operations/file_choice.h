// The rules for choosing a file for a row of the select list, shared by the wizard
// and the command line. No user interface in here: the caller shows the dialogs and
// the message texts.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace stb {

// Row keys: -1 "Allcode  ", -2 "Allcode (kein Bootlader)", i >= 0 chunk i.
inline constexpr int kAllcodeKey = -1;
inline constexpr int kAllcodeNoBootKey = -2;
inline constexpr const char* kAllcodeLabel = "Allcode  ";
inline constexpr const char* kAllcodeNoBootLabel = "Allcode (kein Bootlader)";

struct FileFilter {
  std::string extension;  // default extension, e.g. "abs"
  std::string filter;     // "desc|pattern|...|All File(*.*)|*.*|"
};
FileFilter FileFilterForChunk(uint32_t id);

// A row of the select list: its key and whether a file stands in it.
struct RowKeyChoice {
  int key;
  bool chosen;
};
// The key of the first row holding a file, 0 when none.
int FirstChosenRowKey(const std::vector<RowKeyChoice>& rows);
// False when an "Allcode" row holds a file and key is another row: that refusal is
// silent.
bool RowAcceptsChoice(int firstChosenKey, int key);

enum class FileVerdict {
  Accepted,        // stored in Selections
  RefusedSilent,   // e.g. an empty file
  RefusedWarning,  // message holds the page's text
  RefusedError,    // the file cannot be read; message names the file and the cause
  InvalidImage,    // an "Allcode" file that is no valid image; message holds the reason.
                   // Stored only when asked again with sendInvalidImage.
};
struct FileChoiceResult {
  FileVerdict verdict = FileVerdict::RefusedSilent;
  std::string message;
};

// Examines path for the row with key in the given mode (0 upgrade, else dump) and,
// when it fits, stores it in the context's Selections entry key + 2. A refused
// file leaves the entry as it was. Keys beyond the context's 14 chunks are refused.
// Only regular files are read, and never with a blocking open. An "Allcode" file
// must pass the image check unless sendInvalidImage is set: a broken whole image
// leaves a box that no longer starts. In dump mode a chunk's file must not be the
// file of another chunk.
FileChoiceResult ChooseFileForKey(int key, const std::string& path, int32_t mode,
                                  bool sendInvalidImage = false);

// The checks of a file to send that need no box: a regular file that can be read
// (else RefusedError), with bytes in it (else RefusedSilent), and for a whole image
// ("Allcode" rows) one that passes the image check (else InvalidImage) unless
// sendInvalidImage is set. Accepted with the file's size in size.
FileChoiceResult CheckFileToSend(const std::string& path, bool wholeImage, bool sendInvalidImage,
                                 int64_t& size);

// The page's message texts.
inline constexpr const char* kMsgNoChunk = "could not find corresponding chunk.";
inline constexpr const char* kMsgPleaseSelect = "Please select file first!";
inline constexpr const char* kMsgFileChosenTwice = "The file is already chosen for another chunk.";
inline constexpr const char* kMsgSendAnyway = "Send it anyway?";
std::string ImageChunkTooLargeMessage(uint32_t span);
// "The image is not valid: " and the reason as `inspect` names it.
std::string InvalidImageMessage(const std::string& reason);
std::string RawFileTooLargeMessage(uint32_t span);

}  // namespace stb
