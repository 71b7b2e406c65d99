// The cancel and the burn exclude each other: a cancel the tool takes keeps the
// worker from burning, a cancel that comes once the box burns is refused, and the
// close path never gives up a worker whose box burns.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "context/connect.h"
#include "context/settings.h"
#include "context/upgrade_context.h"
#include "scratch.h"

namespace stb {
namespace {

std::atomic<bool> burning{false};
std::atomic<bool> releaseBurn{false};
std::atomic<int> enterResult{-1};
std::atomic<bool> started{false};

// A worker that gets as far as the burn and burns until released.
int BurningWorker() {
  GetContext()->State = Operating;
  CancelRequested() = 0;
  if (EnterFlashing()) {
    burning = true;
    while (!releaseBurn) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  GetContext()->State = Idle;
  return 1;
}

// A worker still downloading when the cancel comes; then it tries to burn.
int CancelledWorker() {
  GetContext()->State = Operating;
  CancelRequested() = 0;
  started = true;
  while (CancelRequested() == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  enterResult = EnterFlashing() ? 1 : 0;
  GetContext()->State = Idle;
  return 1;
}

class CancelGate : public ::testing::Test {
 protected:
  void SetUp() override {
    WaitForWorker(30000);
    DestroyContext();
    SetSettingsFilePath(dir_ / "Upgrade.ini");
    CancelRequested() = 0;
    GetContext();
    burning = false;
    releaseBurn = false;
    enterResult = -1;
    started = false;
  }
  void TearDown() override {
    releaseBurn = true;
    WaitForWorker(30000);
    DestroyContext();
    SetSettingsFilePath("");
  }
  test::TempDir dir_;
};

TEST_F(CancelGate, ATakenCancelKeepsTheWorkerFromBurning) {
  ASSERT_EQ(StartWorker(&CancelledWorker), 1);
  while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_TRUE(RequestCancel());
  ASSERT_TRUE(WaitForWorker(10000));
  EXPECT_EQ(enterResult, 0);
  EXPECT_EQ(GetContext()->State.load(), Idle);
}

TEST_F(CancelGate, ACancelWhileTheBoxBurnsIsRefused) {
  ASSERT_EQ(StartWorker(&BurningWorker), 1);
  while (!burning) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_FALSE(RequestCancel());
  EXPECT_EQ(CancelRequested(), 0);
  EXPECT_EQ(GetContext()->State.load(), Flashing);
}

// The close path waits as long as the box burns, past its usual 10 s, and the
// worker is not given up: a new worker can start afterwards.
TEST_F(CancelGate, ClosePathWaitsForTheBurnBeyondItsLimit) {
  ASSERT_EQ(StartWorker(&BurningWorker), 1);
  while (!burning) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  std::atomic<bool> closed{false};
  std::thread closer([&closed] {
    CloseContext();
    closed = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(11000));
  EXPECT_FALSE(closed);
  EXPECT_TRUE(WorkerRunning());
  releaseBurn = true;
  closer.join();
  EXPECT_FALSE(WorkerRunning());
  GetContext();
  EXPECT_EQ(StartWorker(&CancelledWorker), 1);  // the slot was not abandoned
  while (!started) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  RequestCancel();
}

}  // namespace
}  // namespace stb
