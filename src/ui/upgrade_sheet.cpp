#include "ui/upgrade_sheet.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStackedWidget>
#include <chrono>
#include <cstdio>
#include <future>

#include "context/connect.h"
#include "context/upgrade_context.h"
#include "link/link.h"
#include "ui/dialog_units.h"
#include "ui/notice_window.h"
#include "ui/page_connect.h"
#include "ui/page_process.h"
#include "ui/page_select.h"
#include "ui/worker_event.h"

namespace stb {

namespace {
// The sheet's frame around the pages, in dialog units.
constexpr int kMargin = 7;
constexpr int kPageWidth = 340;
constexpr int kPageHeight = 193;
constexpr int kButtonWidth = 50;
constexpr int kButtonHeight = 14;
constexpr int kButtonGap = 7;

QString ToQString(const char* utf8) {
  return QString::fromUtf8(utf8);
}
}  // namespace

QString ProtocolTitle(uint32_t version) {
  if (version == 0) return ToQString(kLoaderText);
  char title[160];
  std::snprintf(title, sizeof title, kVersionTitleFormat, kLoaderText,
                static_cast<int>(version >> 4), static_cast<int>(version & 0x0F));
  return ToQString(title);
}

QRect BottomLabelRect(const QRect& client) {
  const int left = client.left() + 2;
  const int right = left + (client.right() + 1 - left) / 2;
  const int bottom = client.bottom() + 1;
  // Right and bottom are exclusive edges, as in the client rectangle.
  return QRect(QPoint(left, bottom - 17), QPoint(right - 1, bottom - 2 - 1));
}

CUpgradeSheet::CUpgradeSheet(IDialogs& dialogs, QWidget* parent)
    : QDialog(parent), dialogs_(dialogs) {
  setWindowTitle(ToQString(kSheetCaption));
  setFont(DialogFont());
  const DialogUnits du(font());

  stack_ = new QStackedWidget(this);
  stack_->setGeometry(du.Rect(kMargin, kMargin, kPageWidth, kPageHeight));
  connect_ = new CPageConnect(*this);
  select_ = new CPageSelect(*this, dialogs_);
  process_ = new CPageProcess(*this, dialogs_);

  const int lineY = kMargin + kPageHeight + 4;
  auto* line = new QFrame(this);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  line->setGeometry(du.X(kMargin), du.Y(lineY), du.X(kPageWidth), 2);

  const int sheetWidth = kPageWidth + 2 * kMargin;
  const int buttonY = lineY + 7;
  const int cancelX = sheetWidth - kMargin - kButtonWidth;
  const int nextX = cancelX - kButtonGap - kButtonWidth;
  const int backX = nextX - kButtonWidth;  // Back and Next stand side by side
  const struct {
    int id;
    int x;
    const char* text;
  } buttons[] = {{kButtonBack, backX, "< Back"},
                 {kButtonNext, nextX, "Next >"},
                 {kButtonCancel, cancelX, "Exit"}};
  for (const auto& b : buttons) {
    auto* button = new QPushButton(ToQString(b.text), this);
    SetControlId(button, b.id);
    button->setAutoDefault(false);
    button->setDefault(false);
    button->setGeometry(du.Rect(b.x, buttonY, kButtonWidth, kButtonHeight));
    const int id = b.id;
    QObject::connect(button, &QPushButton::clicked, this, [this, id] { OnButton(id); });
  }
  setFixedSize(du.X(sheetWidth), du.Y(buttonY + kButtonHeight + kMargin));

  AddWizardPages();
  SetMainWindow(this);
  // The pre-translation sees every event for the sheet and the windows inside it.
  qApp->installEventFilter(this);
}

CUpgradeSheet::~CUpgradeSheet() {
  qApp->removeEventFilter(this);
  if (GetMainWindow() == this) SetMainWindow(nullptr);
  // A worker that still runs must not post to a sheet that is gone.
  if (!closed_ && WorkerRunning()) {
    RequestCancel();
    WaitForWorker(10000);
  }
}

void CUpgradeSheet::AddWizardPages() {
  stack_->addWidget(connect_);
  stack_->addWidget(select_);
  stack_->addWidget(process_);
  wizardMode_ = true;
}

void CUpgradeSheet::InitSheet() {
  ShowProtocolVersion(0);
  notice_ = new CNoticeWindow(this);
  notice_->CentreOnOwner();
  notice_->hide();
  bottomLabel_ = new QLabel(this);
  SetControlId(bottomLabel_, 0xFFFF);
  bottomLabel_->setGeometry(BottomLabelRect(rect()));
  bottomLabel_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  bottomLabel_->setText(ToQString(kWebSiteText) + QStringLiteral("   ") +
                        ToQString(GetLinkVersion()));
  bottomLabel_->setEnabled(false);  // drawn in the muted colour of a footnote
  bottomLabel_->show();
}

void CUpgradeSheet::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (initialised_) return;
  initialised_ = true;
  InitSheet();
  SetActivePage(kPageConnect);
}

void CUpgradeSheet::SetButtonText(int buttonId, const QString& text) {
  if (QPushButton* button = Button(buttonId)) button->setText(text);
}

void CUpgradeSheet::EnableButton(int buttonId, bool enable) {
  if (QPushButton* button = Button(buttonId)) button->setEnabled(enable);
}

void CUpgradeSheet::ShowProtocolVersion(uint32_t version) {
  setWindowTitle(ProtocolTitle(version));
}

void CUpgradeSheet::ShowWaitNotice(int show) {
  if (notice_ == nullptr) return;
  if (show != 0) {
    notice_->CentreOnOwner();
    notice_->show();
    notice_->repaint();
  } else {
    notice_->hide();
  }
}

QPushButton* CUpgradeSheet::Button(int buttonId) const {
  // Only the sheet's own buttons: a page's controls are not wizard buttons.
  for (QObject* child : children()) {
    auto* button = qobject_cast<QPushButton*>(child);
    if (button != nullptr && ControlId(button) == buttonId) return button;
  }
  return nullptr;
}

int CUpgradeSheet::ActiveIndex() const {
  return stack_->currentIndex();
}

CWizardPage* CUpgradeSheet::Page(int index) const {
  return qobject_cast<CWizardPage*>(stack_->widget(index));
}

void CUpgradeSheet::SetActivePage(int index) {
  CWizardPage* page = Page(index);
  if (page == nullptr || closing_) return;
  stack_->setCurrentIndex(index);
  page->EnsureInitialised();
  page->OnSetActive();
}

void CUpgradeSheet::OnButton(int buttonId) {
  CWizardPage* page = Page(ActiveIndex());
  if (page == nullptr || closing_) return;
  if (buttonId == kButtonCancel) {
    // The connect page exists from the start and handles the cancel for all three.
    connect_->OnWizardCancel();
    return;
  }
  const int target = buttonId == kButtonNext ? page->OnWizardNext() : page->OnWizardBack();
  if (target != kStayOnPage) SetActivePage(target);
}

void CUpgradeSheet::PostCloseRequest() {
  QMetaObject::invokeMethod(
      this, [this] { close(); }, Qt::QueuedConnection);
}

void CUpgradeSheet::SendCloseRequest() {
  close();
}

void CUpgradeSheet::ReturnToConnect(const QString& status, const QString& log) {
  SetActivePage(kPageConnect);
  connect_->ShowEndedRun(status, log);
}

CUpgradeContext* CUpgradeSheet::Context() {
  return closing_ ? nullptr : GetContext();
}

void CUpgradeSheet::PostNotification(Notification notification) {
  // Posting is thread-safe and keeps the order; the event owns the text block.
  QCoreApplication::postEvent(this, new WorkerEvent(std::move(notification)));
}

bool CUpgradeSheet::event(QEvent* event) {
  WorkerEvent* notification = WorkerEvent::From(event);
  if (notification == nullptr) return QDialog::event(event);
  // Once the close path runs nothing is shown; the block goes with the event.
  if (closing_) return true;
  if (notification->Message() == WM_WORKER_CONNECTED) {
    if (notification->WParam() == 1) {
      if (CUpgradeContext* context = Context()) ShowProtocolVersion(context->ProtocolVersion);
      SetActivePage(kPageSelect);
    } else {
      SetButtonText(kButtonNext, QStringLiteral("Connect"));
      EnableButton(kButtonNext, true);  // disabled while a cancel was under way
    }
    return true;
  }
  // Handled by the page active now, even if another one is active on arrival.
  if (CWizardPage* page = Page(ActiveIndex())) {
    QCoreApplication::postEvent(page, new WorkerEvent(notification->Take()));
  }
  return true;
}

bool CUpgradeSheet::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
  auto* widget = static_cast<QWidget*>(watched);
  if (widget->window() != this) return false;  // message boxes, menus, other windows
  // The page's own pre-translation runs first, then the sheet's.
  for (int i = 0; i < stack_->count(); ++i) {
    CWizardPage* page = Page(i);
    if ((widget == page || page->isAncestorOf(widget)) && page->PreTranslate(event)) return true;
  }
  return PreTranslate(event);
}

bool CUpgradeSheet::PreTranslate(QEvent* event) {
  const int key = static_cast<QKeyEvent*>(event)->key();
  if (key == Qt::Key_Escape) {
    PostCloseRequest();
    return true;
  }
  if (key == Qt::Key_Return || key == Qt::Key_Enter) {
    // Pressing Next through the toolkit, only while it is enabled; the key never
    // reaches the focused control.
    QPushButton* next = Button(kButtonNext);
    if (next != nullptr && next->isEnabled()) next->click();
    return true;
  }
  return false;
}

void CUpgradeSheet::closeEvent(QCloseEvent* event) {
  if (closed_) {
    QDialog::closeEvent(event);
    return;
  }
  CUpgradeContext* context = closing_ ? nullptr : GetContext();
  // While the box burns its flash the window stays open; a request that comes
  // while the close path waits is answered by the path itself.
  if (closing_ || (context != nullptr && context->State.load() == Flashing)) {
    event->ignore();
    return;
  }
  RunClosePath();
  QDialog::closeEvent(event);
}

void CUpgradeSheet::RunClosePath() {
  closing_ = true;
  if (WorkerRunning()) {
    // The close path waits up to 10 s for the worker; the window keeps painting
    // meanwhile and shows why it waits.
    ShowWaitNotice(1);
    std::future<void> done = std::async(std::launch::async, &CloseContext);
    while (done.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
      QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    }
    done.get();
    ShowWaitNotice(0);
  } else {
    CloseContext();
  }
  closed_ = true;
}

}  // namespace stb
