#include "ui/upgrade_app.h"

#include <cstdio>
#include <cstdlib>

#include "context/connect.h"
#include "context/notifications.h"
#include "context/upgrade_context.h"
#include "ui/upgrade_sheet.h"

namespace stb {

int CUpgradeApp::Run() {
  if (GetContext() == nullptr) return 1;
  InitContext();
  auto* sheet = new CUpgradeSheet(dialogs_);
  sheet->exec();
  if (WorkerRunning()) {
    // A worker deaf to the cancel was left running by the close path: end the
    // process now, before anything it may still reach (the sheet it posts to)
    // is destroyed. The settings are already saved.
    std::fflush(nullptr);
    std::_Exit(0);
  }
  delete sheet;
  return 0;
}

}  // namespace stb
