#include "image/image_verdict.h"

#include <cinttypes>
#include <cstdio>

#include "image/input_file.h"

namespace stb {

std::string ImageVerdictText(const ImageReport& report) {
  if (report.fault == ImageFault::kNone) return {};
  if (report.fault == ImageFault::kCannotOpen) {
    return std::string(ImageFaultText(report.fault)) + ": " + InputErrorText(report.openError);
  }
  char place[80];
  std::snprintf(place, sizeof place, "chunk %" PRIu32 " at offset %" PRIu64 ": ", report.faultIndex,
                report.faultOffset);
  return place + std::string(ImageFaultText(report.fault));
}

}  // namespace stb
