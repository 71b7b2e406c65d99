// Status reporting: the log filter, the 255-character cut, the hand-over
// and release of text blocks, and the order of notifications across threads.
#include "context/notifications.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "context/settings.h"
#include "context/upgrade_context.h"
#include "link/link.h"
#include "recording_window.h"
#include "scratch.h"

namespace stb {
namespace {

class ContextNotificationsTest : public ::testing::Test {
 protected:
  void SetUp() override { DestroyContext(); }
  void TearDown() override {
    DestroyContext();
    CancelRequested().store(0);
  }
};

TEST_F(ContextNotificationsTest, MessageNumbersAreWmAppPlus100To105) {
  EXPECT_EQ(WM_WORKER_STATUS, 0x8064u);
  EXPECT_EQ(WM_WORKER_LOG, 0x8065u);
  EXPECT_EQ(WM_WORKER_PROGRESS, 0x8066u);
  EXPECT_EQ(WM_WORKER_CONNECTED, 0x8067u);
  EXPECT_EQ(WM_WORKER_FINISHED, 0x8068u);
  EXPECT_EQ(WM_WORKER_FLASHING, 0x8069u);
}

TEST_F(ContextNotificationsTest, FormatLogFiltersByWarningLevelUnsigned) {
  struct Case {
    uint32_t level, warningLevel;
    bool posted;
  };
  const Case cases[] = {
      {0, 0, true},  {2, 0, true},  {0, 1, false}, {2, 1, true},           {2, 2, true},
      {0, 2, false}, {2, 3, false}, {0, 3, false}, {0xFFFFFFFFu, 3, true}, {1, 0xFFFFFFFFu, false},
  };
  for (const Case& c : cases) {
    test::ScopedRecordingWindow window;
    GetContext()->WarningLevel = c.warningLevel;
    FormatLog(c.level, "line %u", c.level);
    EXPECT_EQ(window->Texts(WM_WORKER_LOG).size(), c.posted ? 1u : 0u)
        << "level " << c.level << " WarningLevel " << c.warningLevel;
  }
}

TEST_F(ContextNotificationsTest, FormatLogFormatsPercentSAndPercentU) {
  test::ScopedRecordingWindow window;
  FormatLog(0, "Retry %u of command %s\r\n", 3u, "version");
  EXPECT_EQ(window->Texts(WM_WORKER_LOG),
            std::vector<std::string>{"Retry 3 of command version\r\n"});
}

TEST_F(ContextNotificationsTest, LongTextsAreCutTo255CharactersNeverOverflow) {
  test::ScopedRecordingWindow window;
  const std::string long1000(1000, 'a');
  FormatLog(0, "%s", long1000.c_str());
  const std::string long3000 = std::string(254, 'b') + std::string(3000, 'c');
  FormatLog(0, "%s%s", long3000.c_str(), long3000.c_str());  // beyond the 1024 buffer too
  PostWorkerText(std::string(255, 'd').c_str(), true);
  PostWorkerText(std::string(256, 'e').c_str(), true);
  const auto logs = window->Texts(WM_WORKER_LOG);
  ASSERT_EQ(logs.size(), 2u);
  EXPECT_EQ(logs[0], std::string(255, 'a'));
  EXPECT_EQ(logs[1], std::string(254, 'b') + "c");
  const auto status = window->Texts(WM_WORKER_STATUS);
  ASSERT_EQ(status.size(), 2u);
  EXPECT_EQ(status[0], std::string(255, 'd'));
  EXPECT_EQ(status[1], std::string(255, 'e'));
}

TEST_F(ContextNotificationsTest, BlockIsZeroTerminatedAndZeroFilled) {
  struct Keeper final : IMainWindow {
    std::vector<Notification> kept;
    void PostNotification(Notification n) override { kept.push_back(std::move(n)); }
  } keeper;
  SetMainWindow(&keeper);
  PostWorkerText(std::string(300, 'x').c_str(), false);
  PostWorkerText("short", true);
  PostWorkerText(nullptr, true);
  SetMainWindow(nullptr);
  ASSERT_EQ(keeper.kept.size(), 3u);
  const TextBlock& cut = *keeper.kept[0].text;
  EXPECT_EQ(cut.size(), 256u);
  EXPECT_EQ(cut[254], 'x');
  EXPECT_EQ(cut[255], '\0');
  const TextBlock& shortBlock = *keeper.kept[1].text;
  for (size_t i = 5; i < shortBlock.size(); ++i) ASSERT_EQ(shortBlock[i], '\0') << i;
  EXPECT_EQ(keeper.kept[1].message, WM_WORKER_STATUS);
  EXPECT_EQ(keeper.kept[1].lParam, 0);
  EXPECT_STREQ(keeper.kept[2].text->data(), "");
}

TEST_F(ContextNotificationsTest, WithoutMainWindowNothingIsPostedAndNoBlockIsMade) {
  SetMainWindow(nullptr);
  const uint64_t made = TextBlock::Made();
  PostWorkerText("nobody listens", true);
  ReportError(0);
  FormatLog(0, "x");
  ReportProgress(50);
  EXPECT_EQ(TextBlock::Made(), made);
}

TEST_F(ContextNotificationsTest, EveryTextBlockIsReleasedExactlyOnceByItsReceiver) {
  // A receiver that keeps its notifications for a while, as a window's queue does.
  struct Queue final : IMainWindow {
    std::mutex m;
    std::vector<Notification> pending;
    void PostNotification(Notification n) override {
      std::lock_guard<std::mutex> lock(m);
      pending.push_back(std::move(n));
    }
  } queue;
  const uint64_t made0 = TextBlock::Made(), released0 = TextBlock::Released();
  SetMainWindow(&queue);
  for (int i = 0; i < 50; ++i) {
    PostWorkerText("status", true);
    FormatLog(0, "log %u", static_cast<unsigned>(i));
    ReportError(i % 45);  // codes 41..44 have no text: nothing posted
    ReportProgress(i);
    PostWorkerMessage(WM_WORKER_CONNECTED, 1, 0);
  }
  SetMainWindow(nullptr);
  size_t texts = 0;
  for (const Notification& n : queue.pending) texts += n.text ? 1 : 0;
  EXPECT_EQ(texts, 50u + 50u + 46u);
  EXPECT_EQ(TextBlock::Made() - made0, texts);
  EXPECT_EQ(TextBlock::Released() - released0, 0u) << "owned by the receiver until it drops them";
  // The receiver handles them, moving some blocks on before releasing them.
  std::vector<std::unique_ptr<TextBlock>> handedOn;
  for (Notification& n : queue.pending) {
    if (n.text && handedOn.size() < 10) handedOn.push_back(std::move(n.text));
  }
  queue.pending.clear();
  EXPECT_EQ(TextBlock::Released() - released0, texts - handedOn.size());
  handedOn.clear();
  EXPECT_EQ(TextBlock::Released() - released0, texts);
  EXPECT_EQ(TextBlock::Made() - made0, texts);
}

TEST_F(ContextNotificationsTest, RecordingWindowReleasesEachBlockOnce) {
  test::ScopedRecordingWindow window;
  const uint64_t made0 = TextBlock::Made(), released0 = TextBlock::Released();
  for (int i = 0; i < 20; ++i) PostWorkerText("t", i % 2 == 0);
  EXPECT_EQ(window->BlocksReleased(), 20);
  EXPECT_EQ(TextBlock::Made() - made0, 20u);
  EXPECT_EQ(TextBlock::Released() - released0, 20u);
}

TEST_F(ContextNotificationsTest, OrderIsKeptForEachPostingThread) {
  test::ScopedRecordingWindow window;
  constexpr int kThreads = 4, kEach = 2000;
  std::atomic<bool> go{false};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &go] {
      while (!go.load()) std::this_thread::yield();
      for (int i = 0; i < kEach; ++i) {
        if (i % 3 == 0) {
          PostWorkerText((std::to_string(t) + ":" + std::to_string(i)).c_str(), false);
        } else {
          PostWorkerMessage(WM_WORKER_PROGRESS, i, t);
        }
      }
    });
  }
  go.store(true);
  for (std::thread& th : threads) th.join();
  const auto records = window->Records();
  ASSERT_EQ(records.size(), static_cast<size_t>(kThreads * kEach));
  std::vector<int> next(kThreads, 0);
  for (const test::Recorded& r : records) {
    int t, i;
    if (r.message == WM_WORKER_LOG) {
      const size_t colon = r.text.find(':');
      t = std::stoi(r.text.substr(0, colon));
      i = std::stoi(r.text.substr(colon + 1));
    } else {
      t = static_cast<int>(r.lParam);
      i = static_cast<int>(r.wParam);
    }
    ASSERT_EQ(i, next[t]) << "thread " << t;
    ++next[t];
  }
}

TEST_F(ContextNotificationsTest, PostsOrderedAcrossThreadsArriveInThatOrder) {
  // Two workers take turns; each post happens after the other's previous one, so the
  // receiver must see 0, 1, 2, ... whichever thread posted.
  test::ScopedRecordingWindow window;
  constexpr int kTotal = 400;
  std::atomic<int> turn{0};
  auto worker = [&](int parity) {
    for (int k = parity; k < kTotal; k += 2) {
      while (turn.load() != k) std::this_thread::yield();
      PostWorkerText(std::to_string(k).c_str(), true);
      turn.store(k + 1);
    }
  };
  std::thread a(worker, 0), b(worker, 1);
  a.join();
  b.join();
  const auto texts = window->Texts(WM_WORKER_STATUS);
  ASSERT_EQ(texts.size(), static_cast<size_t>(kTotal));
  for (int k = 0; k < kTotal; ++k) ASSERT_EQ(texts[k], std::to_string(k));
}

TEST_F(ContextNotificationsTest, ProgressAndEndNotificationsCarryTheirParameters) {
  test::ScopedRecordingWindow window;
  ReportProgress(0);
  ReportProgress(100);
  PostWorkerMessage(WM_WORKER_FINISHED, 1, 1);
  const auto r = window->Records();
  ASSERT_EQ(r.size(), 3u);
  EXPECT_EQ(r[0].message, WM_WORKER_PROGRESS);
  EXPECT_EQ(r[1].wParam, 100);
  EXPECT_EQ(r[1].lParam, 0);
  EXPECT_EQ(r[2].message, WM_WORKER_FINISHED);
  EXPECT_EQ(r[2].wParam, 1);
  EXPECT_EQ(r[2].lParam, 1);
}

TEST_F(ContextNotificationsTest, IsCancelRequestedReadsTheFlag) {
  CancelRequested().store(0);
  EXPECT_EQ(IsCancelRequested(), 0);
  CancelRequested().store(1);
  EXPECT_EQ(IsCancelRequested(), 1);
}

TEST_F(ContextNotificationsTest, InitContextLoadsSettingsAndRegistersFormatLog) {
  test::TempDir dir;
  const std::string ini = dir / "Upgrade.ini";
  ASSERT_TRUE(test::WriteFile(ini, "[Config]\nWarningLevel=2\nPort=3\n"));
  SetSettingsFilePath(ini);
  SetLogSink(nullptr);
  EXPECT_EQ(InitContext(), 1);
  SetSettingsFilePath("");
  EXPECT_EQ(LogSink(), &FormatLog);
  EXPECT_EQ(GetSerialSettings().Port, 3);
  GetSerialSettings() = SerialSettings{};
  test::RecordingWindow window;
  SetMainWindow(&window);
  STB_LOG(0, "framing %s", "error");
  STB_LOG(2, "transfer %s", "warning");
  SetMainWindow(nullptr);
  SetLogSink(nullptr);
  EXPECT_EQ(window.Texts(WM_WORKER_LOG), std::vector<std::string>{"transfer warning"});
}

}  // namespace
}  // namespace stb
