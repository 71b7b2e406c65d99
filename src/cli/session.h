// One run of the command line against a box: settings, the connect worker, then the
// operation worker, with their notifications drained and shown on the main thread.
#pragma once

#include <cstdint>
#include <string>

#include "cli/cli_options.h"
#include "cli/notification_queue.h"
#include "cli/progress_display.h"

namespace stb::cli {

struct WorkerOutcome {
  bool failed = false;
  bool cancelled = false;
  int32_t code = 0;     // the error code whose text the worker logged, 0 when none
  std::string message;  // that text, without its line break
};

class Session {
 public:
  explicit Session(const GlobalOptions& options);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Loads the settings (--ini) and applies the port options. False with a message on
  // stderr when an option is unusable.
  bool Prepare();
  // Runs the connect worker to its end.
  WorkerOutcome Connect();
  // Runs the dump or upgrade worker (context Mode and Selections already set).
  WorkerOutcome Operate();

  // The process's exit code for an outcome.
  static int ExitCodeFor(const WorkerOutcome& outcome);

 private:
  // Starts a worker and drains its notifications.
  WorkerOutcome Run(int (*start)(), uint32_t endMessage);
  // Drains notifications until the worker's end notification has come and the
  // worker thread has ended; turns SIGINT/SIGTERM into a cancel request.
  WorkerOutcome Drain(uint32_t endMessage);
  void EnsureLineStart();
  void ShowStatus(const std::string& text);
  void ShowLog(const std::string& text, WorkerOutcome& outcome);

  GlobalOptions options_;
  NotificationQueue queue_;
  ProgressDisplay progress_;
  bool atLineStart_ = true;
};

// Installs the SIGINT/SIGTERM handlers that the sessions poll.
void InstallSignalHandlers();

}  // namespace stb::cli
