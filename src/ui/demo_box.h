// Demo mode: an emulated box in this process on a pseudo-terminal, with the serial
// port mapped to it, so the whole wizard can be walked without a box.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace stb {

class CDemoBox {
 public:
  CDemoBox();
  ~CDemoBox();
  CDemoBox(const CDemoBox&) = delete;
  CDemoBox& operator=(const CDemoBox&) = delete;

  // Starts a box of that protocol version and maps the port to it; false with
  // error set when it cannot start.
  bool Start(uint32_t protocolVersion, std::string& error);
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The line rate the demo box paces its bytes at, so the progress can be watched.
inline constexpr uint32_t kDemoLineRate = 460800;
inline constexpr uint32_t kDemoDefaultProtocol = 0x30;

}  // namespace stb
