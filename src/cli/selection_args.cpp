#include "cli/selection_args.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>

#include "context/upgrade_context.h"
#include "image/chunk_table.h"
#include "operations/chunk_text.h"
#include "operations/file_choice.h"

namespace stb::cli {

namespace {
std::string ParentDirectory(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A dump target must be creatable before the box is asked for anything.
bool CheckDumpTarget(const std::string& path, std::string& error) {
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    error = path + ": is a directory";
    return false;
  }
  const std::string dir = ParentDirectory(path);
  if (::stat(dir.c_str(), &st) != 0) {
    error = path + ": " + dir + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    error = path + ": " + dir + " is not a directory";
    return false;
  }
  if (::access(dir.c_str(), W_OK | X_OK) != 0) {
    error = path + ": " + dir + ": " + std::strerror(errno);
    return false;
  }
  return true;
}
}  // namespace

bool ResolveChunkArgument(const std::string& argument, RowChoice& out, std::string& error) {
  const size_t eq = argument.find('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 == argument.size()) {
    error = "'" + argument + "': expected SEL=FILE";
    return false;
  }
  const std::string sel = argument.substr(0, eq);
  out.path = argument.substr(eq + 1);
  const TargetChunkTable& table = GetTargetChunkTable();
  const uint32_t count = std::min<uint32_t>(table.chunkCount, kMaxTableChunks);
  int index = -1;
  char* end = nullptr;
  const long number = std::strtol(sel.c_str(), &end, 10);
  if (end != nullptr && *end == '\0' && number >= 0 && number < static_cast<long>(count)) {
    index = static_cast<int>(number);
  } else {
    for (uint32_t i = 0; i < count; ++i) {
      if (ChunkText(table.chunks[i].name) == sel) {
        index = static_cast<int>(i);
        break;
      }
    }
  }
  if (index < 0) {
    error = "'" + sel + "': the box has no such chunk (see 'info')";
    return false;
  }
  if (table.chunks[index].masked != 0) {
    error = "'" + sel + "': the chunk is hidden by ChunkMask in the settings file";
    return false;
  }
  if (index >= kMaxSelectableChunks) {
    error = "'" + sel + "': only the first 14 chunks of a box can take a file";
    return false;
  }
  out.key = index;
  return true;
}

bool ApplyChoices(const std::vector<RowChoice>& choices, int mode, std::string& error) {
  ResetSelections(GetTargetChunkTable().chunkCount);
  std::vector<RowKeyChoice> rows;
  std::set<int> seen;
  for (const RowChoice& choice : choices) {
    if (!seen.insert(choice.key).second) {
      error = "the same row is chosen twice";
      return false;
    }
    if (!RowAcceptsChoice(FirstChosenRowKey(rows), choice.key) ||
        (choice.key < 0 && !rows.empty())) {
      error = "a whole image (Allcode) cannot be combined with other files";
      return false;
    }
    if (mode != 0 && !CheckDumpTarget(choice.path, error)) return false;
    const FileChoiceResult verdict = ChooseFileForKey(choice.key, choice.path, mode);
    switch (verdict.verdict) {
      case FileVerdict::Accepted:
        break;
      case FileVerdict::RefusedSilent:
        error = choice.path + ": the file is empty";
        return false;
      case FileVerdict::RefusedWarning:
      case FileVerdict::RefusedError:
        error = choice.path + ": " + verdict.message;
        return false;
    }
    rows.push_back({choice.key, true});
  }
  return true;
}

}  // namespace stb::cli
