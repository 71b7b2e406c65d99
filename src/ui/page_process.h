// Process page (dialog 109): status, progress and log of the running dump or
// upgrade, its cancel, the lock while the box burns, and the result.
#pragma once

#include "ui/wizard_sheet.h"

class QLabel;
class QPlainTextEdit;
class QProgressBar;

namespace stb {

class IDialogs;

inline constexpr int kIdProcessStatus = 1025;
inline constexpr int kIdProgressBar = 1018;
inline constexpr int kIdPercentage = 1019;
inline constexpr int kIdProcessLog = 1006;

// "Upgrade " or "Dump " followed by "Success!" or "Error".
QString ResultMessage(int32_t mode, bool failed);

class CPageProcess final : public CWizardPage {
  Q_OBJECT

 public:
  CPageProcess(IWizardSheet& sheet, IDialogs& dialogs, QWidget* parent = nullptr);

  void OnSetActive() override;
  int OnWizardNext() override;  // "Cancel" while running, "Finish" after the end
  int OnWizardBack() override;  // "Restart"

 protected:
  bool event(QEvent* event) override;

 private:
  void OnStatus(const QString& text);
  void OnProgress(uint32_t percent);
  void OnFinished(bool failed, bool cancelled);
  void OnFlashing();

  IDialogs& dialogs_;
  QLabel* status_;
  QProgressBar* progress_;
  QLabel* percentage_;
  QPlainTextEdit* log_;
};

}  // namespace stb
