// Turning the command line's file choices into the context's Selections, by the same
// rules as the wizard's select page.
#pragma once

#include <string>
#include <vector>

namespace stb::cli {

struct RowChoice {
  int key;  // -1 "Allcode  ", -2 "Allcode (kein Bootlader)", i >= 0 chunk i
  std::string path;
};

// Splits "SEL=FILE" at its first '='. False with a message in error when either
// side is missing.
bool SplitChunkArgument(const std::string& argument, std::string& sel, std::string& path,
                        std::string& error);

// Parses "SEL=FILE" where SEL is a chunk's 0-based index in the box's table or its
// name. False with a message in error when SEL names no selectable chunk.
bool ResolveChunkArgument(const std::string& argument, RowChoice& out, std::string& error);

struct FileArgument {
  bool wholeImage;  // an "Allcode" row
  std::string path;
};

// What can be said of the files without the box, so that a bad one is refused before
// the port is opened. Upgrade (mode 0): each file is a regular file with bytes in it,
// and a whole image passes the image check unless force is set. Dump: each target
// is a place a write may land (a symbolic link counts as the file it names), and no
// two targets are the same file. False with the reason, naming the file, in error.
bool CheckFilesUpFront(const std::vector<FileArgument>& files, int mode, bool force,
                       std::string& error);

// Examines and stores every choice in order (mode 0 upgrade, else dump), refusing
// combinations the select page would not allow. force lets an "Allcode" image that
// fails the image check through. False with the page's message (or the reason) in
// error; nothing is sent then.
bool ApplyChoices(const std::vector<RowChoice>& choices, int mode, bool force, std::string& error);

// The hint behind a refused invalid image.
inline constexpr const char* kMsgUseForce = "Use --force to send it anyway.";

}  // namespace stb::cli
