#include "recording_window.h"

#include "link/link.h"

namespace stb::test {

ScopedRecordingWindow::ScopedRecordingWindow() {
  stb::SetMainWindow(&window_);
  stb::SetLogSink(&stb::FormatLog);
}

ScopedRecordingWindow::~ScopedRecordingWindow() {
  stb::SetMainWindow(nullptr);
  stb::SetLogSink(nullptr);
}

}  // namespace stb::test
