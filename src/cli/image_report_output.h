// What `stb-upgrade-cli inspect` prints for an image report: a table or one JSON line.
#pragma once

#include <string>

#include "image/image_report.h"

namespace stb::cli {

// "chunk K at offset N: rule" for an invalid image, the open error for an
// unreadable file, empty for a valid one.
std::string InspectVerdict(const ImageReport& report);
std::string FormatInspectText(const std::string& file, const ImageReport& report);
std::string FormatInspectJson(const std::string& file, const ImageReport& report);
// 0 valid, 1 invalid, 2 unreadable.
int InspectExitCode(const ImageReport& report);

}  // namespace stb::cli
