// What the wizard tests share: dialogs that answer from a script instead of
// blocking, a fresh context per test, a chunk table, and button snapshots.
#pragma once

#include <QCoreApplication>
#include <QPushButton>
#include <QString>
#include <QTemporaryDir>
#include <deque>
#include <functional>
#include <vector>

#include "context/notifications.h"
#include "image/chunk_table.h"
#include "ui/dialogs.h"
#include "ui/upgrade_sheet.h"

namespace stb::uitest {

class FakeDialogs final : public IDialogs {
 public:
  struct Message {
    MessageIcon icon;
    QString text;
  };
  struct FileRequest {
    bool save;
    QString filter;
    QString suffix;
  };

  void ShowMessage(QWidget*, MessageIcon icon, const QString& text) override;
  bool AskYesNo(QWidget*, const QString& text) override;
  QString OpenFile(QWidget*, const QString& filter, const QString& suffix) override;
  QString SaveFile(QWidget*, const QString& filter, const QString& suffix) override;
  QAction* PopupMenu(QMenu& menu, const QPoint&) override;

  std::vector<Message> messages;
  std::vector<FileRequest> fileRequests;
  std::deque<QString> answers;  // the files the user picks; none left = cancel
  int menuCommand = 0;          // the command picked from a pop-up; 0 = dismissed
  std::vector<QStringList> menus;
  std::function<void(const Message&)> onMessage;  // runs while the box is "open"
  std::vector<QString> questions;
  std::deque<bool> yesNo;  // the answers to the questions; none left = No, the default
};

// A fresh context loaded from a settings file in dir (which may not exist yet),
// with the serial settings at their initial values and no device mapped.
void FreshContext(const QString& iniPath, const std::string& device = "/nonexistent/stb-tty");

TargetChunkInfo MakeChunk(uint32_t id, const char* name, uint32_t span);
void SetChunkTable(const std::vector<TargetChunkInfo>& chunks);

// Delivers posted events: worker notifications reach the sheet, then the page.
void Pump();
// Posts a notification the way a worker does.
void PostToSheet(CUpgradeSheet& sheet, uint32_t message, int64_t wParam = 0, int64_t lParam = 0,
                 const char* text = nullptr);

struct ButtonState {
  QString text;
  bool enabled;
  bool operator==(const ButtonState&) const = default;
};
struct Buttons {
  ButtonState back, next, cancel;
  bool operator==(const Buttons&) const = default;
};
inline ButtonState On(const char* text) {
  return {QString::fromUtf8(text), true};
}
inline ButtonState Off(const char* text) {
  return {QString::fromUtf8(text), false};
}
Buttons Snapshot(const CUpgradeSheet& sheet);
QString Describe(const Buttons& buttons);

// Asks the sheet to close as the window manager's close box does.
void CloseBox(CUpgradeSheet& sheet);

}  // namespace stb::uitest

#define COMPARE_BUTTONS(sheet, b, n, c)                                                   \
  do {                                                                                    \
    const ::stb::uitest::Buttons expected_{b, n, c};                                      \
    const ::stb::uitest::Buttons actual_ = ::stb::uitest::Snapshot(sheet);                \
    QVERIFY2(actual_ == expected_,                                                        \
             qPrintable(QStringLiteral("got ") + ::stb::uitest::Describe(actual_) +       \
                        QStringLiteral(", want ") + ::stb::uitest::Describe(expected_))); \
  } while (0)
