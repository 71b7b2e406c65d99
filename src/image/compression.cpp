#include "image/compression.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "context/error_table.h"
#include "context/notifications.h"
#include "image/external_encoder.h"
#include "image/lzma_check.h"
#include "image/lzma_encoder.h"

namespace stb {

namespace {

// No text and never shown: the caller sends the data uncompressed.
constexpr int kNoGain = err::kEncoderNotStarted;

bool WriteWhole(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

int ReadOutput(const std::string& path, size_t limit, std::vector<uint8_t>& packed) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return err::kFileNotOpen;
  struct stat st;
  int rc = err::kSuccess;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    rc = err::kFileNotOpen;
  } else if (st.st_size == 0) {
    rc = err::kReadFileData;
  } else if (static_cast<uint64_t>(st.st_size) >= limit) {
    rc = kNoGain;  // would not fit the caller's buffer, and gains nothing
  } else {
    packed.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    while (done < packed.size()) {
      const ssize_t n = ::read(fd, packed.data() + done, packed.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    if (done != packed.size()) rc = err::kReadFileData;
  }
  ::close(fd);
  return rc;
}

int CompressExternally(const uint8_t* data, size_t size, std::vector<uint8_t>& packed) {
  // One run at a time inside the process: the work files are per process.
  static std::mutex running;
  std::lock_guard<std::mutex> lock(running);
  const std::string dir = CompressionWorkDirectory();
  if (dir.empty()) return err::kFileNotOpen;
  const std::string in = dir + "/temp.in";
  const std::string out = dir + "/temp.7z";

  const int fd = ::open(in.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return err::kFileNotOpen;
  // A temp.in cut short (disk full) would be compressed and sent as if whole.
  const bool written = WriteWhole(fd, data, size);
  if (::close(fd) != 0 || !written) {
    ::unlink(in.c_str());
    return err::kWriteFileData;
  }
  // Whatever an earlier run left must never pass for this run's output.
  if (::unlink(out.c_str()) != 0 && errno != ENOENT) {
    ::unlink(in.c_str());
    return err::kFileNotOpen;
  }
  int rc = RunEncoder(in, out) ? ReadOutput(out, size, packed) : err::kEncoderNotStarted;
  // The folder is private: nothing needs the copies once the output is read back.
  ::unlink(in.c_str());
  ::unlink(out.c_str());
  return rc;
}

}  // namespace

int PrepareCompressedTransfer(uint8_t* data, int32_t size, int32_t& sizeOut) {
  sizeOut = size;
  if (data == nullptr || size <= 0) return kNoGain;
  const size_t plain = static_cast<size_t>(size);
  try {
    std::vector<uint8_t> packed;
    // An external encoder can take seconds: say what the tool is doing meanwhile.
    PostWorkerText("Compressing...", true);
    const int rc = ExternalEncoderPath().empty() ? EncodeLzmaAlone(data, plain, packed)
                                                 : CompressExternally(data, plain, packed);
    // The buffer holds exactly size bytes, and a form that is not shorter gains nothing.
    int result = rc;
    if (result == err::kSuccess && (packed.empty() || packed.size() >= plain)) result = kNoGain;
    // The box burns what it unpacks: an encoder that wrote anything but these data
    // must never reach it.
    if (result == err::kSuccess && !LzmaAloneDecodesTo(packed.data(), packed.size(), data, plain)) {
      PostWorkerText("The compressed data do not match. Sending uncompressed.\r\n", false);
      result = kNoGain;
    }
    if (result != err::kSuccess) {
      PostWorkerText("Sending uncompressed.", true);
      return result;
    }
    std::memcpy(data, packed.data(), packed.size());
    sizeOut = static_cast<int32_t>(packed.size());
    char status[96];
    std::snprintf(status, sizeof status, "Compressed %zu to %zu bytes.", plain, packed.size());
    PostWorkerText(status, true);
    return err::kSuccess;
  } catch (const std::bad_alloc&) {
    return err::kMalloc;
  }
}

}  // namespace stb
