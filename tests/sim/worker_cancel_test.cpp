// The workers against the emulated box when the user cancels or closes between the
// last data packet and the burn: a cancel the tool takes means nothing is burned and
// the box is not restarted; the close path ends without giving the worker up.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "context/connect.h"
#include "context/error_table.h"
#include "context/notifications.h"
#include "context/settings.h"
#include "context/upgrade_context.h"
#include "image/chunk_table.h"
#include "image_builder.h"
#include "link/clock.h"
#include "link/link.h"
#include "operations/operation_worker.h"
#include "sim/box_sim.h"

namespace stb::sim::test {
namespace {

constexpr uint32_t kLogoId = 0x02FD0200;

// Records the notifications; on the first 100 % (a download has sent its last
// packet) it takes a cancel, as a user pressing Cancel at that moment would.
class CancelAtEndOfDownload final : public IMainWindow {
 public:
  void PostNotification(Notification n) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (n.message == WM_WORKER_LOG && n.text) log_ += n.text->data();
    if (n.message == WM_WORKER_FLASHING) flashing_ = true;
    if (n.message == WM_WORKER_FINISHED) {
      finished_ = true;
      failed_ = n.wParam;
      cancelled_ = n.lParam;
    }
    if (n.message == WM_WORKER_PROGRESS && n.wParam == 100 && !downloaded_) {
      downloaded_ = true;
      if (cancelHere) taken_ = RequestCancel();
    }
  }
  bool Downloaded() {
    std::lock_guard<std::mutex> lock(mutex_);
    return downloaded_;
  }
  void Reset() {
    std::lock_guard<std::mutex> lock(mutex_);
    log_.clear();
    downloaded_ = taken_ = flashing_ = finished_ = false;
    failed_ = cancelled_ = -1;
  }

  bool cancelHere = true;
  std::mutex mutex_;
  std::string log_;
  bool downloaded_ = false, taken_ = false, flashing_ = false, finished_ = false;
  int64_t failed_ = -1, cancelled_ = -1;
};

class WorkerCancel : public ::testing::Test {
 protected:
  void StartBox(uint32_t protocol) {
    BoxOptions options;
    options.protocol = protocol;
    box_ = std::make_unique<BoxSimulator>(options);
    ASSERT_TRUE(box_->Start()) << box_->LastError();
    before_ = box_->Flash();
    WaitForWorker(10000);
    DestroyContext();
    SetSettingsFilePath(dir_.File("Upgrade.ini"));
    GetSerialSettings() = SerialSettings{};
    GetSerialSettings().Device = box_->SlavePath();
    SetProtocolVersion(0);
    GetContext();
    InitContext();
    SetMainWindow(&window_);
    ASSERT_EQ(StartConnect(), 1);
    ASSERT_TRUE(WaitForWorker(60000));
    ASSERT_GT(GetTargetChunkTable().chunkCount, 3u);
  }
  void TearDown() override {
    WaitForWorker(60000);
    SetMainWindow(nullptr);
    DestroyContext();
    box_.reset();
  }
  // A raw file for the logo chunk (the rest of the table is passed over by moves).
  void ChooseLogo() {
    const TargetChunkTable& table = GetTargetChunkTable();
    for (uint32_t i = 0; i < table.chunkCount; ++i) {
      if (table.chunks[i].id != kLogoId) continue;
      const std::string file = dir_.Write("logo.m2v", std::vector<uint8_t>(3000, 0x5A));
      ChunkSelection& s = GetContext()->Selections[2 + i];
      s.FileName = file;
      s.FileOffset = 0;
      s.FileLength = 3000;
      s.IsImageChunk = 0;
    }
  }
  void ChooseWholeImage() {
    const std::string file = dir_.Write("image.abs", BuildDefaultFlash());
    GetContext()->Selections[1].FileName = file;
  }
  void ExpectNothingBurned() {
    EXPECT_EQ(box_->Stats().burns, 0u);
    EXPECT_EQ(box_->Stats().reboots, 0u);
    EXPECT_TRUE(box_->Flash() == before_);
    EXPECT_FALSE(window_.flashing_);
  }

  stb::test::TempDir dir_;
  std::unique_ptr<BoxSimulator> box_;
  std::vector<uint8_t> before_;
  CancelAtEndOfDownload window_;
};

TEST_F(WorkerCancel, CancelAfterTheLastDataPacketBurnsNothing) {
  struct Case {
    const char* what;
    uint32_t protocol;
    bool wholeImage;
  } cases[] = {{"whole image, packet box", 0x30, true},
               {"one chunk then moves, packet box", 0x30, false},
               {"one chunk then moves, legacy box", 33, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    StartBox(c.protocol);
    window_.Reset();
    GetContext()->Mode = 0;
    if (c.wholeImage) {
      ChooseWholeImage();
    } else {
      ChooseLogo();
    }
    ASSERT_EQ(StartOperation(), 1);
    ASSERT_TRUE(WaitForWorker(120000));
    EXPECT_TRUE(window_.taken_);
    EXPECT_TRUE(window_.finished_);
    EXPECT_EQ(window_.failed_, 1);
    EXPECT_EQ(window_.cancelled_, 1);
    EXPECT_NE(window_.log_.find("Operation von Benutzer abgebrochen!"), std::string::npos)
        << window_.log_;
    ExpectNothingBurned();
    TearDown();
  }
}

TEST_F(WorkerCancel, CloseBetweenDownloadAndBurnEndsTheWorkerWithoutBurning) {
  StartBox(0x30);
  window_.cancelHere = false;
  GetContext()->Mode = 0;
  ChooseWholeImage();
  ASSERT_EQ(StartOperation(), 1);
  while (!window_.Downloaded() && WorkerRunning()) SleepMs(1);
  ASSERT_TRUE(window_.Downloaded());
  // The close path as the wizard runs it when Exit is pressed now.
  CloseContext();
  EXPECT_FALSE(WorkerRunning());
  ExpectNothingBurned();
  GetContext();  // the close path destroyed it; TearDown destroys the new one
}

TEST_F(WorkerCancel, CancelIsRefusedWhileTheBoxBurns) {
  StartBox(0x30);
  window_.cancelHere = false;
  GetContext()->Mode = 0;
  ChooseLogo();
  std::atomic<bool> refused{false};
  // Asked from another thread while the box burns: refused, the burn goes on.
  struct RefuseWhileFlashing final : IMainWindow {
    CancelAtEndOfDownload* inner;
    std::atomic<bool>* refused;
    void PostNotification(Notification n) override {
      if (n.message == WM_WORKER_FLASHING) *refused = !RequestCancel();
      inner->PostNotification(std::move(n));
    }
  } window;
  window.inner = &window_;
  window.refused = &refused;
  SetMainWindow(&window);
  ASSERT_EQ(StartOperation(), 1);
  ASSERT_TRUE(WaitForWorker(120000));
  SetMainWindow(&window_);
  EXPECT_TRUE(refused);
  EXPECT_EQ(window_.failed_, 0) << window_.log_;
  EXPECT_EQ(window_.cancelled_, 0);
  EXPECT_EQ(box_->Stats().burns, 1u);
  EXPECT_EQ(box_->Stats().reboots, 1u);
}

}  // namespace
}  // namespace stb::sim::test
