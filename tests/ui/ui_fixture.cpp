#include "ui_fixture.h"

#include <QAction>
#include <QMenu>
#include <QWindow>
#include <cstring>

#include "context/connect.h"
#include "context/settings.h"
#include "context/upgrade_context.h"

namespace stb::uitest {

void FakeDialogs::ShowMessage(QWidget*, MessageIcon icon, const QString& text) {
  messages.push_back({icon, text});
  if (onMessage) onMessage(messages.back());
}

bool FakeDialogs::AskYesNo(QWidget*, const QString& text) {
  questions.push_back(text);
  if (yesNo.empty()) return false;
  const bool yes = yesNo.front();
  yesNo.pop_front();
  return yes;
}

QString FakeDialogs::OpenFile(QWidget*, const QString& filter, const QString& suffix) {
  fileRequests.push_back({false, filter, suffix});
  if (answers.empty()) return QString();
  const QString file = answers.front();
  answers.pop_front();
  return file;
}

QString FakeDialogs::SaveFile(QWidget*, const QString& filter, const QString& suffix) {
  fileRequests.push_back({true, filter, suffix});
  if (answers.empty()) return QString();
  const QString file = answers.front();
  answers.pop_front();
  return file;
}

QAction* FakeDialogs::PopupMenu(QMenu& menu, const QPoint&) {
  QStringList texts;
  QAction* chosen = nullptr;
  for (QAction* action : menu.actions()) {
    texts << action->text();
    if (menuCommand != 0 && action->data().toInt() == menuCommand) chosen = action;
  }
  menus.push_back(texts);
  return chosen;
}

void FreshContext(const QString& iniPath, const std::string& device) {
  // A worker of an earlier test has ended before its sheet was gone.
  WaitForWorker(10000);
  DestroyContext();
  SetSettingsFilePath(iniPath.toStdString());
  GetSerialSettings() = SerialSettings{};
  GetSerialSettings().Device = device;
  CancelRequested() = 0;
  GetContext();
  InitContext();
  GetTargetChunkTable() = TargetChunkTable{};
}

TargetChunkInfo MakeChunk(uint32_t id, const char* name, uint32_t span) {
  TargetChunkInfo chunk{};
  chunk.id = id;
  chunk.length = span - 16;
  chunk.nextOffset = span;
  std::memset(chunk.name, 0xFF, sizeof chunk.name);
  std::strncpy(chunk.name, name, sizeof chunk.name - 1);
  return chunk;
}

void SetChunkTable(const std::vector<TargetChunkInfo>& chunks) {
  TargetChunkTable& table = GetTargetChunkTable();
  table = TargetChunkTable{};
  table.flashSize = 0x400000;
  for (const TargetChunkInfo& chunk : chunks) {
    if (table.chunkCount >= kMaxTableChunks) break;
    table.chunks[table.chunkCount++] = chunk;
  }
  // The last chunk runs to its length, as the box reports it.
  if (table.chunkCount > 0) table.chunks[table.chunkCount - 1].nextOffset = 0;
}

void Pump() {
  for (int i = 0; i < 4; ++i) QCoreApplication::processEvents();
}

void PostToSheet(CUpgradeSheet& sheet, uint32_t message, int64_t wParam, int64_t lParam,
                 const char* text) {
  Notification n;
  n.message = message;
  n.wParam = wParam;
  n.lParam = lParam;
  if (text != nullptr) {
    n.text = std::make_unique<TextBlock>();
    n.text->fill(0);
    std::strncpy(n.text->data(), text, n.text->size() - 1);
  }
  sheet.PostNotification(std::move(n));
}

Buttons Snapshot(const CUpgradeSheet& sheet) {
  auto state = [&sheet](int id) {
    const QPushButton* button = sheet.Button(id);
    return ButtonState{button->text(), button->isEnabled()};
  };
  return {state(kButtonBack), state(kButtonNext), state(kButtonCancel)};
}

QString Describe(const Buttons& b) {
  auto one = [](const ButtonState& s) {
    return QStringLiteral("\"%1\" %2")
        .arg(s.text, s.enabled ? QStringLiteral("on") : QStringLiteral("off"));
  };
  return QStringLiteral("[%1 | %2 | %3]").arg(one(b.back), one(b.next), one(b.cancel));
}

void CloseBox(CUpgradeSheet& sheet) {
  // The window's own close goes the way of the window manager's close request.
  sheet.windowHandle()->close();
  Pump();
}

}  // namespace stb::uitest
