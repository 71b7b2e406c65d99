// Why an image is not valid, in one line: what `inspect` prints and what the
// front ends say before they send a whole image.
#pragma once

#include <string>

#include "image/image_report.h"

namespace stb {

// "chunk K at offset N: rule" for an invalid image, "cannot open the file: why" for
// one that cannot be opened, empty for a valid one.
std::string ImageVerdictText(const ImageReport& report);

}  // namespace stb
