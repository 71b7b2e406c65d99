// info, dump and upgrade: each runs the connect worker and then, for dump and
// upgrade, the operation worker, exactly as the wizard does.
#include <cstdio>
#include <vector>

#include "cli/cli_options.h"
#include "cli/info_output.h"
#include "cli/selection_args.h"
#include "cli/session.h"
#include "context/upgrade_context.h"
#include "image/chunk_table.h"
#include "operations/file_choice.h"

namespace stb::cli {

namespace {
struct BoxRequest {
  int mode = 0;  // 0 upgrade, 1 dump; unused by info
  std::string allcode;
  std::string allcodeNoBoot;
  std::vector<std::string> chunkArgs;
  bool force = false;  // send a whole image that fails the image check
};

// Every file of the request, for the checks that need no box.
bool FilesOf(const BoxRequest& request, std::vector<FileArgument>& files, std::string& error) {
  if (!request.allcode.empty()) files.push_back({true, request.allcode});
  if (!request.allcodeNoBoot.empty()) files.push_back({true, request.allcodeNoBoot});
  for (const std::string& arg : request.chunkArgs) {
    std::string sel, path;
    if (!SplitChunkArgument(arg, sel, path, error)) return false;
    files.push_back({false, path});
  }
  return true;
}

void PrintOutcome(const GlobalOptions& options, const WorkerOutcome& outcome) {
  if (!options.json) return;
  const char* result = outcome.cancelled ? "cancelled" : outcome.failed ? "error" : "success";
  std::fputs(ResultJson(result, outcome.code, outcome.message).c_str(), stdout);
}

int Refuse(const GlobalOptions& options, const std::string& error) {
  std::fprintf(stderr, "stb-upgrade-cli: %s\n", error.c_str());
  if (options.json) std::fputs(ResultJson("error", 0, error).c_str(), stdout);
  return kExitUsage;
}

// Connects; then, with operate set, chooses the files and runs the operation.
int RunBox(const GlobalOptions& options, const BoxRequest& request, bool operate) {
  InstallSignalHandlers();
  Session session(options);
  if (!session.Prepare()) return kExitUsage;
  CUpgradeContext* context = GetContext();
  context->Mode = request.mode;

  // The whole-image rows need no chunk table: refuse a bad combination before the box
  // is touched.
  const int wholeRows = (request.allcode.empty() ? 0 : 1) + (request.allcodeNoBoot.empty() ? 0 : 1);
  if (operate && wholeRows > 0 && (wholeRows > 1 || !request.chunkArgs.empty())) {
    return Refuse(options, "a whole image (Allcode) cannot be combined with other files");
  }
  if (operate && wholeRows == 0 && request.chunkArgs.empty()) {
    return Refuse(options, kMsgPleaseSelect);
  }
  // A file that cannot be used is refused before the port is opened.
  if (operate) {
    std::vector<FileArgument> files;
    std::string error;
    if (!FilesOf(request, files, error) ||
        !CheckFilesUpFront(files, request.mode, request.force, error)) {
      return Refuse(options, error);
    }
  }

  WorkerOutcome outcome = session.Connect();
  if (outcome.failed) {
    PrintOutcome(options, outcome);
    return Session::ExitCodeFor(outcome);
  }
  if (!operate) {
    const uint32_t version = context->ProtocolVersion;
    const TargetChunkTable& table = GetTargetChunkTable();
    std::fputs((options.json ? InfoJson(version, table) : InfoText(version, table)).c_str(),
               stdout);
    return kExitSuccess;
  }

  std::vector<RowChoice> choices;
  if (!request.allcode.empty()) choices.push_back({kAllcodeKey, request.allcode});
  if (!request.allcodeNoBoot.empty()) choices.push_back({kAllcodeNoBootKey, request.allcodeNoBoot});
  for (const std::string& arg : request.chunkArgs) {
    RowChoice choice{};
    std::string error;
    if (!ResolveChunkArgument(arg, choice, error)) return Refuse(options, error);
    choices.push_back(choice);
  }
  std::string error;
  if (!ApplyChoices(choices, request.mode, request.force, error)) return Refuse(options, error);

  outcome = session.Operate();
  if (!outcome.failed) {
    std::fprintf(stderr, "%s%s\n", request.mode == 0 ? "Upgrade " : "Dump ", "Success!");
  } else if (!outcome.cancelled) {
    std::fprintf(stderr, "%s%s\n", request.mode == 0 ? "Upgrade " : "Dump ", "Error");
  }
  PrintOutcome(options, outcome);
  return Session::ExitCodeFor(outcome);
}
}  // namespace

void AddBoxCommands(CLI::App& app, GlobalOptions& options, int& exitCode) {
  auto* info =
      app.add_subcommand("info", "connect; print the protocol version, flash size and chunk table");
  info->callback([&] { exitCode = RunBox(options, BoxRequest{}, false); });

  auto dumpRequest = std::make_shared<BoxRequest>();
  dumpRequest->mode = 1;
  auto* dump =
      app.add_subcommand("dump", "dump the whole flash (--all) or single chunks (--chunk)");
  dump->add_option("--all", dumpRequest->allcode, "file that receives the whole flash");
  dump->add_option("--chunk", dumpRequest->chunkArgs,
                   "SEL=FILE: chunk index or name, and the file that receives it (repeatable)");
  dump->callback([&, dumpRequest] { exitCode = RunBox(options, *dumpRequest, true); });

  auto upgradeRequest = std::make_shared<BoxRequest>();
  auto* upgrade = app.add_subcommand("upgrade", "upgrade the box with an image or single chunks");
  upgrade->add_option("--allcode", upgradeRequest->allcode, "a whole image");
  upgrade->add_option("--allcode-no-boot", upgradeRequest->allcodeNoBoot,
                      "an image whose first chunk (the boot loader) is not sent");
  upgrade->add_option("--chunk", upgradeRequest->chunkArgs,
                      "SEL=FILE: chunk index or name, and the file to send (repeatable); a "
                      "firmware image gives its matching chunk, any other file is raw data");
  upgrade->add_flag("--force", upgradeRequest->force,
                    "send a whole image (--allcode, --allcode-no-boot) even when it fails the "
                    "image check of 'inspect'");
  upgrade->callback([&, upgradeRequest] { exitCode = RunBox(options, *upgradeRequest, true); });
}

}  // namespace stb::cli
