// The callbacks the operations hand to the protocol layer.
#pragma once

#include "link/link.h"

namespace stb {

// Percent 0..100; the operations pass ReportProgress.
using ProgressCallback = void (*)(int percent);
// CancelQuery (link.h): returns 1 once the user has cancelled; the operations pass
// IsCancelRequested.

}  // namespace stb
