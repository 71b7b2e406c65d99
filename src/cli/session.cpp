#include "cli/session.h"

#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstring>

#include "context/connect.h"
#include "context/error_table.h"
#include "context/notifications.h"
#include "context/settings.h"
#include "context/upgrade_context.h"
#include "image/chunk_table.h"
#include "link/port.h"
#include "operations/chunk_text.h"
#include "operations/operation_worker.h"

namespace stb::cli {

namespace {
// The one piece of state a signal handler may touch.
volatile std::sig_atomic_t pendingSignal = 0;

void OnSignal(int signal) {
  pendingSignal = signal;
}

int ParityCode(const std::string& name) {
  static const char* const kNames[] = {"none", "odd", "even", "mark", "space"};
  for (int i = 0; i < 5; ++i)
    if (name == kNames[i]) return i;
  return -1;
}

// The error code whose table text (with its line break) is text, or -1.
int32_t CodeOfErrorText(const std::string& text) {
  auto find = [&text](const auto& table) -> int32_t {
    for (const ErrorRecord& record : table)
      if (text == std::string(record.text) + "\r\n") return record.code;
    return -1;
  };
  const int32_t code = find(ErrorTable);
  return code >= 0 ? code : find(ToolErrorTable);
}

std::string WithoutLineBreaks(std::string s) {
  while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
  while (!s.empty() && (s.front() == '\n' || s.front() == '\r')) s.erase(0, 1);
  return s;
}

// The byte count behind a status line, so the bar can show bytes and speed.
uint64_t BytesForStatus(const std::string& status) {
  const TargetChunkTable& table = GetTargetChunkTable();
  const CUpgradeContext* context = GetContext();
  auto chunkNamed = [&](const std::string& name) -> int {
    for (uint32_t i = 0; i < table.chunkCount && i < kMaxTableChunks; ++i)
      if (ChunkText(table.chunks[i].name) == name) return static_cast<int>(i);
    return -1;
  };
  if (status.rfind("Downloade Code:", 0) == 0) {
    const int i = chunkNamed(status.substr(15));
    return i >= 0 ? ChunkSpan(table.chunks[i]) : 0;
  }
  if (status.rfind("Dumpe Code: ", 0) == 0 && status.size() > 13) {
    uint32_t start = 0, size = 0;
    const int i = chunkNamed(status.substr(12, status.size() - 13));
    return i >= 0 && ChunkFlashRange(table, i, start, size) ? size : 0;
  }
  if (status == "Dumpe Allcode ") return table.flashSize;
  if (status == "Downloade Allcode " && context != nullptr) {
    const bool noBoot = !context->Selections[0].FileName.empty();
    const std::string& file = context->Selections[noBoot ? 0 : 1].FileName;
    // stat, not open: opening a FIFO would block.
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      const uint64_t size = static_cast<uint64_t>(st.st_size);
      const uint64_t skip = noBoot ? table.chunks[0].nextOffset : 0;
      return size > skip ? size - skip : 0;
    }
  }
  return 0;
}
}  // namespace

void InstallSignalHandlers() {
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // A dropped SSH connection (SIGHUP) and Ctrl-\ (SIGQUIT) stop like Ctrl-C: the
  // box is told, and a burn is never cut off.
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) sigaction(signal, &action, nullptr);
  // Output to a closed pipe (stderr into head) is dropped; the operation goes on.
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  sigemptyset(&ignore.sa_mask);
  sigaction(SIGPIPE, &ignore, nullptr);
}

Session::Session(const GlobalOptions& options)
    : options_(options), progress_(stderr, ::isatty(STDERR_FILENO) == 1) {
  SetMainWindow(&queue_);
}

Session::~Session() {
  progress_.Finish();
  SetMainWindow(nullptr);
}

bool Session::Prepare() {
  if (!options_.ini.empty()) SetSettingsFilePath(options_.ini);
  InitContext();
  // The defaults stand in for a settings file that cannot be read; say why.
  const std::string settingsError = LastSettingsError();
  if (!settingsError.empty()) std::fprintf(stderr, "stb-upgrade-cli: %s\n", settingsError.c_str());
  SerialSettings& serial = GetSerialSettings();
  if (options_.port != 0) serial.Port = options_.port;
  if (options_.baud != 0) serial.Baud = options_.baud;
  if (!options_.parity.empty()) serial.Parity = ParityCode(options_.parity);
  if (!options_.device.empty()) serial.Device = options_.device;
  if (serial.Baud <= 0) {
    std::fprintf(stderr, "stb-upgrade-cli: baud rate %d is not usable\n", serial.Baud);
    return false;
  }
  if (serial.Parity < 0 || serial.Parity > 4) {
    std::fprintf(stderr, "stb-upgrade-cli: parity code %d is not usable (0 to 4)\n", serial.Parity);
    return false;
  }
  return true;
}

WorkerOutcome Session::Run(int (*start)(), uint32_t endMessage) {
  if (start() != 1) {
    WorkerOutcome outcome;
    outcome.failed = true;
    outcome.code = err::kGeneric;
    outcome.message = "a worker is already running";
    return outcome;
  }
  return Drain(endMessage);
}

WorkerOutcome Session::Connect() {
  return Run(&StartConnect, WM_WORKER_CONNECTED);
}

WorkerOutcome Session::Operate() {
  return Run(&StartOperation, WM_WORKER_FINISHED);
}

int Session::ExitCodeFor(const WorkerOutcome& outcome) {
  if (outcome.cancelled) return kExitCancelled;
  return outcome.failed ? kExitFailed : kExitSuccess;
}

void Session::EnsureLineStart() {
  progress_.Finish();
  if (!atLineStart_) std::fputc('\n', stderr);
  atLineStart_ = true;
}

void Session::ShowStatus(const std::string& text) {
  EnsureLineStart();
  std::fprintf(stderr, "%s\n", text.c_str());
  const uint64_t bytes = BytesForStatus(text);
  const bool burning = text == "FLASHE ! NICHT AUSSCHALTEN !!";
  if (bytes > 0 || burning) progress_.Begin(burning ? "burn" : "transfer", bytes);
}

void Session::ShowLog(const std::string& text, WorkerOutcome& outcome) {
  const int32_t code = CodeOfErrorText(text);
  if (code >= 0) {
    outcome.code = code;
    outcome.message = WithoutLineBreaks(text);
  }
  // The loader's log lines bring their own "\r\n"; a terminal wants "\n".
  std::string shown;
  for (char c : text)
    if (c != '\r') shown += c;
  if (shown.empty()) return;
  progress_.Finish();
  std::fputs(shown.c_str(), stderr);
  atLineStart_ = shown.back() == '\n';
  std::fflush(stderr);
}

WorkerOutcome Session::Drain(uint32_t endMessage) {
  WorkerOutcome outcome;
  bool ended = false;
  while (!ended || WorkerRunning()) {
    if (pendingSignal != 0) {
      pendingSignal = 0;
      if (WorkerRunning()) {
        EnsureLineStart();
        if (RequestCancel()) {
          std::fprintf(stderr, "stb-upgrade-cli: %s\n", kCancellingText);
        } else {
          std::fprintf(stderr,
                       "stb-upgrade-cli: the box is burning its flash; it must not be "
                       "interrupted. The burn goes on to its end.\n");
        }
      }
    }
    Notification n;
    if (!queue_.WaitPop(n, 100)) {
      if (ended) WaitForWorker(100);
      continue;
    }
    const std::string text = n.text ? std::string(n.text->data()) : std::string();
    switch (n.message) {
      case WM_WORKER_STATUS:
        ShowStatus(text);
        break;
      case WM_WORKER_LOG:
        ShowLog(text, outcome);
        break;
      case WM_WORKER_PROGRESS:
        progress_.Update(static_cast<int>(n.wParam));
        break;
      case WM_WORKER_CONNECTED:
        if (endMessage == WM_WORKER_CONNECTED) {
          ended = true;
          outcome.failed = n.wParam != 1;
          outcome.cancelled = outcome.failed && CancelRequested() != 0;
        }
        break;
      case WM_WORKER_FINISHED:
        if (endMessage == WM_WORKER_FINISHED) {
          ended = true;
          outcome.failed = n.wParam != 0;
          outcome.cancelled = n.lParam != 0 && outcome.failed;
        }
        break;
      default:
        break;
    }
  }
  EnsureLineStart();
  if (outcome.failed && outcome.code == 0) {
    outcome.code = err::kGeneric;  // a failure whose code has no text
    outcome.message = "failed";
  }
  if (!outcome.failed) {
    outcome.code = 0;
    outcome.message = "Erfolgreich!";
  }
  if (outcome.failed && outcome.code == err::kPortConnect) {
    const std::string why = ActivePort().LastOpenError();
    if (!why.empty()) std::fprintf(stderr, "stb-upgrade-cli: %s\n", why.c_str());
  }
  return outcome;
}

}  // namespace stb::cli
