#include "context/notifications.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "context/error_table.h"
#include "context/upgrade_context.h"

namespace stb {

namespace {
std::atomic<uint64_t> blocksMade{0};
std::atomic<uint64_t> blocksReleased{0};

// Posting holds the lock, so once SetMainWindow(nullptr) returns no worker is still
// inside the old window's PostNotification: the window may then be destroyed even
// while a worker the close path gave up on still runs.
struct MainWindowSlot {
  std::mutex mutex;
  IMainWindow* window = nullptr;
};
MainWindowSlot& Slot() {
  static MainWindowSlot* slot = new MainWindowSlot();  // outlives every worker
  return *slot;
}

void Post(Notification n) {
  MainWindowSlot& slot = Slot();
  std::lock_guard<std::mutex> lock(slot.mutex);
  if (slot.window != nullptr) slot.window->PostNotification(std::move(n));
}
}  // namespace

TextBlock::TextBlock() noexcept : std::array<char, 256>{} {
  blocksMade.fetch_add(1);
}
TextBlock::TextBlock(const TextBlock& other) noexcept : std::array<char, 256>(other) {
  blocksMade.fetch_add(1);
}
TextBlock::~TextBlock() {
  blocksReleased.fetch_add(1);
}
uint64_t TextBlock::Made() {
  return blocksMade.load();
}
uint64_t TextBlock::Released() {
  return blocksReleased.load();
}

IMainWindow* GetMainWindow() {
  std::lock_guard<std::mutex> lock(Slot().mutex);
  return Slot().window;
}
void SetMainWindow(IMainWindow* window) {
  std::lock_guard<std::mutex> lock(Slot().mutex);
  Slot().window = window;
}

void PostWorkerMessage(uint32_t message, int64_t wParam, int64_t lParam) {
  if (GetMainWindow() == nullptr) return;
  Notification n;
  n.message = message;
  n.wParam = wParam;
  n.lParam = lParam;
  Post(std::move(n));
}

void PostWorkerText(const char* text, bool asStatus) {
  if (GetMainWindow() == nullptr) return;  // no window: no block is allocated
  Notification n;
  n.message = asStatus ? WM_WORKER_STATUS : WM_WORKER_LOG;
  n.text = std::make_unique<TextBlock>();  // zero-filled
  // Longer texts are cut: the block holds 255 characters and the zero.
  if (text != nullptr) std::strncpy(n.text->data(), text, n.text->size() - 1);
  Post(std::move(n));
}

void ReportError(int32_t code) {
  char buffer[256] = {};
  if (LookupErrorText(code, buffer) == 0) return;
  PostWorkerText(buffer, false);
}

void ReportProgress(int percent) {
  PostWorkerMessage(WM_WORKER_PROGRESS, percent, 0);
}

int IsCancelRequested() {
  return CancelRequested().load() != 0 ? 1 : 0;
}

void FormatLog(uint32_t level, const char* format, ...) {
  CUpgradeContext* context = GetContext();
  const uint32_t warningLevel = context != nullptr ? context->WarningLevel : 0;
  if (level < warningLevel) return;
  char buffer[1024] = {};
  if (format == nullptr) return;
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  PostWorkerText(buffer, false);  // cut to 255 characters there
}

}  // namespace stb
