#include <cstdio>
#include <memory>
#include <string>

#include "cli/cli_options.h"
#include "cli/image_report_output.h"
#include "image/image_report.h"

namespace stb::cli {

void AddInspectCommand(CLI::App& app, GlobalOptions& options, int& exitCode) {
  auto* cmd = app.add_subcommand("inspect", "check a firmware image and list its chunks");
  auto image = std::make_shared<std::string>();  // lives as long as the callback
  cmd->add_option("IMAGE", *image, "firmware image file")->required();
  // Also accepted behind the file name, as `inspect IMAGE --json`.
  cmd->add_flag("--json", options.json, "one JSON object on stdout");
  cmd->callback([image, &options, &exitCode] {
    const ImageReport report = InspectImage(*image);
    const std::string text =
        options.json ? FormatInspectJson(*image, report) : FormatInspectText(*image, report);
    // An unreadable file says so on stderr unless the caller asked for JSON.
    std::FILE* out = (!options.json && report.fault == ImageFault::kCannotOpen) ? stderr : stdout;
    std::fputs(text.c_str(), out);
    exitCode = InspectExitCode(report);
  });
}

}  // namespace stb::cli
