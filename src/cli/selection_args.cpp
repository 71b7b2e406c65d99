#include "cli/selection_args.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <set>

#include "context/error_table.h"
#include "context/upgrade_context.h"
#include "image/chunk_table.h"
#include "operations/chunk_text.h"
#include "operations/file_choice.h"
#include "operations/file_output.h"

namespace stb::cli {

namespace {
std::string ParentDirectory(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A dump target must be creatable before the box is asked for anything. A symbolic
// link is judged by the file it finally names.
bool CheckDumpTarget(const std::string& path, std::string& error) {
  std::string target;
  if (const int e = ResolveOutputTarget(path, target); e != 0) {
    error = path + ": " + std::strerror(e);
    return false;
  }
  if (const int e = CheckOutputTarget(target); e != 0) {
    error = path + ": " + (e == err::kNotRegularFile ? ErrorTextOf(e) : std::strerror(e));
    return false;
  }
  struct stat st {};
  const std::string dir = ParentDirectory(target);
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

// The message for a file the shared rules refused.
std::string RefusalText(const std::string& path, const FileChoiceResult& verdict) {
  switch (verdict.verdict) {
    case FileVerdict::Accepted:
      break;
    case FileVerdict::RefusedSilent:
      return path + ": the file is empty";
    case FileVerdict::RefusedWarning:
      return path + ": " + verdict.message;
    case FileVerdict::RefusedError:
      return verdict.message;  // names the file itself
    case FileVerdict::InvalidImage:
      return path + ": " + verdict.message + " " + kMsgUseForce;
  }
  return {};
}
}  // namespace

bool SplitChunkArgument(const std::string& argument, std::string& sel, std::string& path,
                        std::string& error) {
  const size_t eq = argument.find('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 == argument.size()) {
    error = "'" + argument + "': expected SEL=FILE";
    return false;
  }
  sel = argument.substr(0, eq);
  path = argument.substr(eq + 1);
  return true;
}

bool ResolveChunkArgument(const std::string& argument, RowChoice& out, std::string& error) {
  std::string sel;
  if (!SplitChunkArgument(argument, sel, out.path, error)) return false;
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

bool CheckFilesUpFront(const std::vector<FileArgument>& files, int mode, bool force,
                       std::string& error) {
  for (size_t i = 0; i < files.size(); ++i) {
    const FileArgument& file = files[i];
    if (mode != 0) {
      if (!CheckDumpTarget(file.path, error)) return false;
      // Two chunks dumped into one file would leave only the last of them.
      for (size_t j = 0; j < i; ++j) {
        if (SameOutputFile(files[j].path, file.path)) {
          error = file.path + ": " + kMsgFileChosenTwice;
          return false;
        }
      }
      continue;
    }
    int64_t size = 0;
    const FileChoiceResult verdict = CheckFileToSend(file.path, file.wholeImage, force, size);
    if (verdict.verdict != FileVerdict::Accepted) {
      error = RefusalText(file.path, verdict);
      return false;
    }
  }
  return true;
}

bool ApplyChoices(const std::vector<RowChoice>& choices, int mode, bool force, std::string& error) {
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
    const FileChoiceResult verdict = ChooseFileForKey(choice.key, choice.path, mode, force);
    if (verdict.verdict != FileVerdict::Accepted) {
      error = RefusalText(choice.path, verdict);
      return false;
    }
    rows.push_back({choice.key, true});
  }
  return true;
}

}  // namespace stb::cli
