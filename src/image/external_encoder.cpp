#include "image/external_encoder.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "context/settings.h"
#include "image/compression.h"

extern char** environ;

namespace stb {

namespace {

struct EncoderState {
  std::mutex mutex;
  std::string directory;  // empty: the program directory
  std::chrono::milliseconds timeout{0};
  pid_t workOwner = 0;  // the process that made workDirectory
  std::string workDirectory;
};

EncoderState& State() {
  static EncoderState state;
  return state;
}

void RemoveWorkDirectory() {
  EncoderState& s = State();
  if (s.workOwner != ::getpid() || s.workDirectory.empty()) return;
  ::unlink((s.workDirectory + "/temp.in").c_str());
  ::unlink((s.workDirectory + "/temp.7z").c_str());
  ::rmdir(s.workDirectory.c_str());
}

// Waits for the child up to limit; false when it is still running then.
bool WaitFor(pid_t pid, std::chrono::milliseconds limit, int& status) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
#ifdef SYS_pidfd_open
  const int pidfd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  const int pidfd = -1;
#endif
  for (;;) {
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) break;
    if (r < 0 && errno != EINTR) {
      status = -1;  // reaped elsewhere: nothing says its output is whole
      break;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      if (pidfd >= 0) ::close(pidfd);
      return false;
    }
    if (pidfd >= 0) {
      pollfd p{pidfd, POLLIN, 0};
      ::poll(&p, 1, static_cast<int>(left.count()));
    } else {
      std::this_thread::sleep_for(std::min(left, std::chrono::milliseconds(10)));
    }
  }
  if (pidfd >= 0) ::close(pidfd);
  return true;
}

}  // namespace

std::string EncoderDirectory() {
  EncoderState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.directory.empty() ? GetProgramDirectory() : s.directory;
}

void SetEncoderDirectory(const std::string& dir) {
  EncoderState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.directory = dir;
  if (!s.directory.empty() && s.directory.back() != '/') s.directory += '/';
}

std::string ExternalEncoderPath() {
  const std::string path = EncoderDirectory() + "lzma.exe";
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
  if (::access(path.c_str(), X_OK) != 0) return {};
  return path;
}

std::string CompressionWorkDirectory() {
  EncoderState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  const pid_t self = ::getpid();
  if (s.workOwner != self || s.workDirectory.empty()) {
    // A private folder instead of the shared temp folder: two copies of the tool, or
    // a forked child, never read each other's temp.7z.
    std::string pattern = GetTempDirectory() + "/stb-upgrade-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return {};
    const bool first = s.workOwner == 0;
    s.workOwner = self;
    s.workDirectory = pattern;
    if (first) std::atexit(RemoveWorkDirectory);
  }
  return s.workDirectory;
}

std::chrono::milliseconds EncoderTimeout() {
  EncoderState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.timeout.count() > 0 ? s.timeout : kDefaultEncoderTimeout;
}

void SetEncoderTimeout(std::chrono::milliseconds limit) {
  EncoderState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.timeout = limit;
}

bool RunEncoder(const std::string& inputPath, const std::string& outputPath) {
  const std::string exe = EncoderDirectory() + "lzma.exe";
  std::string args[] = {exe, "e", inputPath, outputPath, "-lc0", "-lp2"};
  char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(),
                  args[4].data(), args[5].data(), nullptr};

  // Hidden: no terminal in or out (its banner must not land in the CLI's output),
  // its own process group so that a stuck run can be ended with all it started.
  posix_spawn_file_actions_t files;
  posix_spawnattr_t attr;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_init(&attr);
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGPIPE);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const int started = ::posix_spawn(&pid, exe.c_str(), &files, &attr, argv, environ);
  posix_spawn_file_actions_destroy(&files);
  posix_spawnattr_destroy(&attr);
  if (started != 0) return false;

  // Bounded, unlike the loader's own tool: the worker does not look at the cancel
  // flag while the encoder runs, so a hung encoder would hold the port and the
  // worker for good. A few MiB take seconds; after the limit the download simply
  // goes uncompressed.
  int status = 0;
  if (!WaitFor(pid, EncoderTimeout(), status)) {
    ::kill(-pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    status = -1;
  }
  // Only a clean run's output counts: a crashed, killed or failing encoder may have
  // left half a file that would decode to garbage in the box.
  if (!(status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
    ::unlink(outputPath.c_str());
  }
  return true;
}

}  // namespace stb
