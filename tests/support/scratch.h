// Scratch files for tests: a private temporary directory, whole-file helpers, and a
// way to run a check in a child process as an unprivileged user (root passes every
// permission check, so "not writable" and "not readable" need another user).
#pragma once

#include <dirent.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace stb::test {

inline constexpr uid_t kUnprivilegedId = 65534;  // "nobody"

class TempDir {
 public:
  TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern =
        std::string(base != nullptr && base[0] != '\0' ? base : "/tmp") + "/stb-test-XXXXXX";
    if (::mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~TempDir() {
    if (!path_.empty()) RemoveTree(path_);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

  static void RemoveTree(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
      ::chmod(path.c_str(), 0700);
      for (const std::string& name : List(path)) RemoveTree(path + "/" + name);
      ::rmdir(path.c_str());
    } else {
      ::unlink(path.c_str());
    }
  }
  // The names in dir, sorted.
  static std::vector<std::string> List(const std::string& dir) {
    std::vector<std::string> out;
    if (DIR* d = ::opendir(dir.c_str())) {
      while (const struct dirent* e = ::readdir(d)) {
        const std::string name = e->d_name;
        if (name != "." && name != "..") out.push_back(name);
      }
      ::closedir(d);
    }
    std::sort(out.begin(), out.end());
    return out;
  }

 private:
  std::string path_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline bool WriteFile(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
  return static_cast<bool>(out);
}

// Runs body in a forked child and returns its exit code (body's result), or -1 when
// the child did not exit normally. With unprivileged set, a root parent's child first
// becomes user and group 65534; a non-root child stays who it is.
inline int RunInChild(const std::function<int()>& body, bool unprivileged) {
  const pid_t pid = ::fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (unprivileged && ::geteuid() == 0) {
      if (::setgroups(0, nullptr) != 0 || ::setgid(kUnprivilegedId) != 0 ||
          ::setuid(kUnprivilegedId) != 0)
        ::_exit(125);
    }
    const int rc = body();
    ::_exit(rc);
  }
  int status = 0;
  if (::waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return -1;
  return WEXITSTATUS(status);
}

}  // namespace stb::test
