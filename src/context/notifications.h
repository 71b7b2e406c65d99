// The one channel from a worker to whoever shows its news (the wizard, the CLI, a test).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

namespace stb {

inline constexpr uint32_t WM_APP = 0x8000;
inline constexpr uint32_t WM_WORKER_STATUS = WM_APP + 100;
inline constexpr uint32_t WM_WORKER_LOG = WM_APP + 101;
inline constexpr uint32_t WM_WORKER_PROGRESS = WM_APP + 102;
inline constexpr uint32_t WM_WORKER_CONNECTED = WM_APP + 103;
inline constexpr uint32_t WM_WORKER_FINISHED = WM_APP + 104;
inline constexpr uint32_t WM_WORKER_FLASHING = WM_APP + 105;

// A text notification carries at most 255 characters and the terminating zero. The
// block is a std::array (data(), size(), fill(), []) that counts its making and its
// release, so tests can show that every block is released exactly once.
struct TextBlock : std::array<char, 256> {
  TextBlock() noexcept;  // zero-filled
  TextBlock(const TextBlock& other) noexcept;
  TextBlock& operator=(const TextBlock&) = default;
  ~TextBlock();
  // Blocks made and released since the process started.
  static uint64_t Made();
  static uint64_t Released();
};

struct Notification {
  uint32_t message = 0;
  int64_t wParam = 0;
  int64_t lParam = 0;
  // Set for WM_WORKER_STATUS and WM_WORKER_LOG; owned by the receiver once posted,
  // so every block is released exactly once, whether it is shown or not.
  std::unique_ptr<TextBlock> text;
};

// What a front end implements to receive notifications. Post is called on worker
// threads; the implementation hands the notification to its own thread in order.
class IMainWindow {
 public:
  virtual ~IMainWindow() = default;
  virtual void PostNotification(Notification notification) = 0;
};

// The application's main window; null when there is none (then nothing is posted).
IMainWindow* GetMainWindow();
void SetMainWindow(IMainWindow* window);

// Posts a notification without text (CONNECTED, FINISHED, FLASHING, PROGRESS).
void PostWorkerMessage(uint32_t message, int64_t wParam, int64_t lParam);
// Posts the text (cut to 255 characters) as WM_WORKER_STATUS or WM_WORKER_LOG.
void PostWorkerText(const char* text, bool asStatus);
// Posts the code's text and "\r\n" as a log text; nothing for a code without text.
void ReportError(int32_t code);
// The progress callback handed to the protocol layer.
void ReportProgress(int percent);
// The cancel query handed to the protocol layer: 1 once the user asked to stop.
int IsCancelRequested();

// Shown by both front ends as soon as a cancel has been taken.
inline constexpr char kCancellingText[] = "Cancelling...";
// The log sink registered by InitContext: drops lines below WarningLevel, formats
// the %s and %u conversions and posts the result as a log text.
void FormatLog(uint32_t level, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Loads the settings and registers FormatLog as the protocol layer's log sink.
int InitContext();

}  // namespace stb
