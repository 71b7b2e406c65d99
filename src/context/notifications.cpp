#include "context/notifications.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "context/error_table.h"
#include "context/upgrade_context.h"

namespace stb {

namespace {
std::atomic<IMainWindow*>& MainWindowSlot() {
  static std::atomic<IMainWindow*> window{nullptr};
  return window;
}
}  // namespace

IMainWindow* GetMainWindow() { return MainWindowSlot().load(); }
void SetMainWindow(IMainWindow* window) { MainWindowSlot().store(window); }

void PostWorkerMessage(uint32_t message, int64_t wParam, int64_t lParam) {
  IMainWindow* window = GetMainWindow();
  if (window == nullptr) return;
  Notification n;
  n.message = message;
  n.wParam = wParam;
  n.lParam = lParam;
  window->PostNotification(std::move(n));
}

void PostWorkerText(const char* text, bool asStatus) {
  IMainWindow* window = GetMainWindow();
  if (window == nullptr) return;
  Notification n;
  n.message = asStatus ? WM_WORKER_STATUS : WM_WORKER_LOG;
  n.text = std::make_unique<TextBlock>();
  n.text->fill(0);
  // Longer texts are cut: the block holds 255 characters and the zero.
  std::strncpy(n.text->data(), text, n.text->size() - 1);
  window->PostNotification(std::move(n));
}

void ReportError(int32_t code) {
  char buffer[256] = {};
  if (LookupErrorText(code, buffer) == 0) return;
  PostWorkerText(buffer, false);
}

void ReportProgress(int percent) { PostWorkerMessage(WM_WORKER_PROGRESS, percent, 0); }

int IsCancelRequested() { return CancelRequested().load() != 0 ? 1 : 0; }

void FormatLog(uint32_t level, const char* format, ...) {
  CUpgradeContext* context = GetContext();
  const uint32_t warningLevel = context != nullptr ? context->WarningLevel : 0;
  if (level < warningLevel) return;
  char buffer[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  PostWorkerText(buffer, false);  // cut to 255 characters there
}

}  // namespace stb
