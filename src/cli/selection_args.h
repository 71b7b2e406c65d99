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

// Parses "SEL=FILE" where SEL is a chunk's 0-based index in the box's table or its
// name. False with a message in error when SEL names no selectable chunk.
bool ResolveChunkArgument(const std::string& argument, RowChoice& out, std::string& error);

// Examines and stores every choice in order (mode 0 upgrade, else dump), refusing
// combinations the select page would not allow. False with the page's message (or
// the reason) in error; nothing is sent then.
bool ApplyChoices(const std::vector<RowChoice>& choices, int mode, std::string& error);

}  // namespace stb::cli
