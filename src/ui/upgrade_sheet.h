// The wizard: a dialog holding the three pages and the Back, Next and Cancel
// buttons, the title with the box's protocol version, the bottom label, and the
// main window the workers post their notifications to.
#pragma once

#include <QDialog>
#include <atomic>

#include "context/notifications.h"
#include "ui/wizard_sheet.h"

class QLabel;
class QPushButton;
class QStackedWidget;

namespace stb {

class CNoticeWindow;
class CPageConnect;
class CPageProcess;
class CPageSelect;
class IDialogs;

// The title given at construction (string 102), the loader text and the title with
// a version, and the web site at the start of the bottom label.
inline constexpr const char* kSheetCaption = "STB Upgrade 2.0.0";
inline constexpr const char* kLoaderText = "Quendel Loader ohne Bootladerprüfung";
inline constexpr const char* kVersionTitleFormat = "%s Protokol Version: %d.%d";
inline constexpr const char* kWebSiteText = "stb-upgrade.example";

// The title for a protocol version: the loader text alone for 0.
QString ProtocolTitle(uint32_t version);
// The bottom label's rectangle in a client rectangle of the sheet.
QRect BottomLabelRect(const QRect& client);

class CUpgradeSheet : public QDialog, public IWizardSheet, public IMainWindow {
  Q_OBJECT

 public:
  explicit CUpgradeSheet(IDialogs& dialogs, QWidget* parent = nullptr);
  ~CUpgradeSheet() override;

  virtual void AddWizardPages();
  void SetButtonText(int buttonId, const QString& text) override;
  void EnableButton(int buttonId, bool enable) override;
  virtual void ShowProtocolVersion(uint32_t version);
  virtual void ShowWaitNotice(int show);

  void SetActivePage(int index) override;
  void PostCloseRequest() override;
  void SendCloseRequest() override;
  void ReturnToConnect(const QString& status, const QString& log) override;
  CUpgradeContext* Context() override;

  // Called on worker threads: hands the notification to the user interface thread.
  void PostNotification(Notification notification) override;

  int ActiveIndex() const;
  CWizardPage* Page(int index) const;
  QPushButton* Button(int buttonId) const;
  QLabel* BottomLabel() const { return bottomLabel_; }
  CNoticeWindow* Notice() const { return notice_; }
  // True once the close path has run.
  bool Closed() const { return closed_; }

 protected:
  bool event(QEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void InitSheet();
  bool PreTranslate(QEvent* event);
  void OnButton(int buttonId);
  void RunClosePath();

  IDialogs& dialogs_;
  CPageConnect* connect_;
  CPageSelect* select_;
  CPageProcess* process_;
  CNoticeWindow* notice_ = nullptr;
  QLabel* bottomLabel_ = nullptr;
  QStackedWidget* stack_;
  bool initialised_ = false;
  bool wizardMode_ = false;
  std::atomic<bool> closing_{false};
  bool closed_ = false;
};

}  // namespace stb
