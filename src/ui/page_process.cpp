#include "ui/page_process.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>

#include "context/connect.h"
#include "context/notifications.h"
#include "context/upgrade_context.h"
#include "ui/artwork.h"
#include "ui/dialog_units.h"
#include "ui/dialogs.h"
#include "ui/log_field.h"
#include "ui/worker_event.h"

namespace stb {

QString ResultMessage(int32_t mode, bool failed) {
  return (mode != 0 ? QStringLiteral("Dump ") : QStringLiteral("Upgrade ")) +
         (failed ? QStringLiteral("Error") : QStringLiteral("Success!"));
}

CPageProcess::CPageProcess(IWizardSheet& sheet, IDialogs& dialogs, QWidget* parent)
    : CWizardPage(sheet, parent), dialogs_(dialogs) {
  setFont(DialogFont());
  const DialogUnits du(font());
  setFixedSize(du.X(340), du.Y(193));

  status_ = new QLabel(QStringLiteral("Downloading.."), this);
  SetControlId(status_, kIdProcessStatus);
  status_->setGeometry(du.Rect(8, 8, 202, 8));
  progress_ = new QProgressBar(this);
  SetControlId(progress_, kIdProgressBar);
  progress_->setGeometry(du.Rect(8, 22, 163, 14));
  progress_->setRange(0, 100);
  progress_->setTextVisible(false);
  percentage_ = new QLabel(QStringLiteral("0%"), this);
  SetControlId(percentage_, kIdPercentage);
  percentage_->setGeometry(du.Rect(179, 25, 25, 8));
  log_ = CreateLogField(this, true);
  SetControlId(log_, kIdProcessLog);
  log_->setGeometry(du.Rect(8, 42, 198, 144));

  CreatePictureControl(kBitmapProcess, this)->setGeometry(du.Rect(224, -2, 114, 194));
}

void CPageProcess::OnSetActive() {
  status_->clear();
  log_->clear();
  Sheet().EnableButton(kButtonBack, false);
  Sheet().EnableButton(kButtonNext, true);
  Sheet().EnableButton(kButtonCancel, true);
  Sheet().SetButtonText(kButtonBack, QStringLiteral("< Back"));
  Sheet().SetButtonText(kButtonNext, QStringLiteral("Cancel"));
  Sheet().SetButtonText(kButtonCancel, QStringLiteral("Exit"));
  OnProgress(0);
}

int CPageProcess::OnWizardNext() {
  CUpgradeContext* context = Sheet().Context();
  if (context != nullptr && context->State.load() == Operating) {
    // The worker ends and reports the cancel; the button shows at once that the
    // request was taken. Refused once the box burns.
    if (RequestCancel()) {
      Sheet().EnableButton(kButtonNext, false);
      Sheet().SetButtonText(kButtonNext, QString::fromUtf8(kCancellingText));
    }
  } else {
    Sheet().PostCloseRequest();
  }
  return kStayOnPage;
}

int CPageProcess::OnWizardBack() {
  Sheet().SetActivePage(kPageConnect);
  return kStayOnPage;
}

void CPageProcess::OnStatus(const QString& text) {
  status_->setText(text);
  // Line breaks go between the lines, none after the last.
  AppendLogText(log_, log_->document()->isEmpty() ? text : QStringLiteral("\r\n") + text);
}

void CPageProcess::OnProgress(uint32_t percent) {
  progress_->setValue(static_cast<int>(std::min<uint32_t>(percent, 100)));
  percentage_->setText(QString::number(percent) + QLatin1Char('%'));
}

void CPageProcess::OnFinished(bool failed, bool cancelled) {
  // A cancel that came after the work was done changes nothing of its result.
  if (cancelled && failed) {
    Sheet().ReturnToConnect(status_->text(), log_->toPlainText());
    return;
  }
  Sheet().EnableButton(kButtonBack, true);
  Sheet().EnableButton(kButtonNext, true);
  Sheet().EnableButton(kButtonCancel, true);
  Sheet().SetButtonText(kButtonBack, QStringLiteral("Restart"));
  Sheet().SetButtonText(kButtonNext, QStringLiteral("Finish"));
  Sheet().SetButtonText(kButtonCancel, QStringLiteral("Exit"));
  CUpgradeContext* context = Sheet().Context();
  if (context == nullptr) return;
  dialogs_.ShowMessage(this, MessageIcon::Warning, ResultMessage(context->Mode, failed));
}

void CPageProcess::OnFlashing() {
  // Locked until the operation ends; the sheet refuses to close meanwhile.
  Sheet().EnableButton(kButtonBack, false);
  Sheet().EnableButton(kButtonNext, false);
  Sheet().EnableButton(kButtonCancel, false);
}

bool CPageProcess::event(QEvent* event) {
  WorkerEvent* notification = WorkerEvent::From(event);
  if (notification == nullptr) return CWizardPage::event(event);
  switch (notification->Message()) {
    case WM_WORKER_STATUS:
      OnStatus(notification->Text());
      break;
    case WM_WORKER_LOG:
      AppendLogText(log_, notification->Text());
      break;
    case WM_WORKER_PROGRESS:
      OnProgress(static_cast<uint32_t>(notification->WParam()));
      break;
    case WM_WORKER_FINISHED:
      OnFinished(notification->WParam() != 0, notification->LParam() != 0);
      break;
    case WM_WORKER_FLASHING:
      OnFlashing();
      break;
    default:
      break;
  }
  return true;
}

}  // namespace stb
