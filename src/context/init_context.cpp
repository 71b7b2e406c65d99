#include "context/notifications.h"
#include "context/settings.h"
#include "link/link.h"

namespace stb {

int InitContext() {
  LoadSettings();
  SetLogSink(&FormatLog);
  return 1;
}

}  // namespace stb
