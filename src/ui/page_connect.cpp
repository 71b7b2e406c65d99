#include "ui/page_connect.h"

#include <QButtonGroup>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QRadioButton>

#include "context/connect.h"
#include "context/notifications.h"
#include "context/upgrade_context.h"
#include "ui/artwork.h"
#include "ui/dialog_units.h"
#include "ui/log_field.h"
#include "ui/worker_event.h"

namespace stb {

namespace {
const char* const kBaudRates[] = {"110",   "300",   "600",   "1200",  "2400",  "4800",  "9600",
                                  "14400", "19200", "38400", "56000", "57600", "115200"};
const char* const kParityNames[] = {"None", "Even", "Odd", "Mark", "Space"};

QLabel* Label(const char* text, const QRect& rect, QWidget* parent) {
  auto* label = new QLabel(QString::fromUtf8(text), parent);
  label->setGeometry(rect);
  return label;
}

// A drop-down list the user picks from. The template's height includes the
// dropped list; the closed box keeps the height of one entry.
QComboBox* DropDown(int id, const DialogUnits& du, int x, int y, int width, QWidget* parent) {
  auto* list = new QComboBox(parent);
  SetControlId(list, id);
  list->setEditable(false);
  list->setGeometry(du.X(x), du.Y(y), du.X(width), std::max(du.Y(12), list->sizeHint().height()));
  return list;
}

QRadioButton* Radio(int id, const char* text, const QRect& rect, QWidget* parent) {
  auto* radio = new QRadioButton(QString::fromUtf8(text), parent);
  SetControlId(radio, id);
  radio->setGeometry(rect);
  return radio;
}
}  // namespace

CPageConnect::CPageConnect(IWizardSheet& sheet, QWidget* parent) : CWizardPage(sheet, parent) {
  setFont(DialogFont());
  const DialogUnits du(font());
  setFixedSize(du.X(340), du.Y(193));

  auto* group = new QGroupBox(QStringLiteral("Com Einstellungen"), this);
  group->setGeometry(du.Rect(8, 5, 94, 68));
  group->lower();
  Label("Port", du.Rect(10, 17, 27, 12), this);
  port_ = DropDown(kIdPortList, du, 46, 14, 49, this);
  Label("Parität", du.Rect(10, 36, 24, 12), this);
  parity_ = DropDown(kIdParityList, du, 46, 34, 49, this);
  Label("Bitrate", du.Rect(10, 56, 30, 12), this);
  baud_ = DropDown(kIdBaudList, du, 46, 54, 49, this);
  for (const char* name : kParityNames) parity_->addItem(QString::fromUtf8(name));
  for (const char* rate : kBaudRates) baud_->addItem(QString::fromUtf8(rate));

  Label("STB Tool:", du.Rect(110, 5, 37, 8), this);
  tool_ = new QButtonGroup(this);
  tool_->addButton(Radio(kIdAutodetect, "Autodetekt", du.Rect(110, 16, 54, 10), this),
                   kIdAutodetect);
  tool_->addButton(Radio(kIdEprom, "Eprom", du.Rect(109, 36, 47, 10), this), kIdEprom);
  tool_->addButton(Radio(kIdBootloader, "Bootlader", du.Rect(110, 56, 60, 10), this),
                   kIdBootloader);

  Label("Betriebsmodus:", du.Rect(8, 84, 53, 8), this);
  mode_ = DropDown(kIdModeList, du, 62, 82, 136, this);
  mode_->addItem(QStringLiteral("Upgrade"));
  mode_->addItem(QStringLiteral("Data dump"));

  status_ = Label("Open Serial port", du.Rect(9, 109, 196, 8), this);
  SetControlId(status_, kIdConnectStatus);
  status_->hide();
  log_ = CreateLogField(this, false);
  SetControlId(log_, kIdConnectLog);
  log_->setGeometry(du.Rect(9, 128, 196, 55));
  log_->hide();

  CreatePictureControl(kBitmapConnect, this)->setGeometry(du.Rect(226, 0, 114, 193));
}

void CPageConnect::OnInitDialog() {
  GetContext();
  for (int n = 1; n <= 32; ++n) port_->insertItem(n - 1, QStringLiteral("COM%1").arg(n));
  const SerialSettings& serial = GetSerialSettings();
  // A setting that matches no entry leaves its list without a selection; the
  // setting itself stays and is used until the user picks an entry.
  port_->setCurrentIndex(serial.Port > 0 && serial.Port <= port_->count() ? serial.Port - 1 : -1);
  int baudIndex = -1;
  for (int i = 0; i < baud_->count(); ++i) {
    if (baud_->itemText(i).toInt() == serial.Baud) {
      baudIndex = i;
      break;
    }
  }
  baud_->setCurrentIndex(baudIndex);
  int parityIndex = -1;
  for (int i = 0; i < 5; ++i) {
    if (kParityCodes[i] == serial.Parity) {
      parityIndex = i;
      break;
    }
  }
  parity_->setCurrentIndex(parityIndex);
  tool_->button(kIdAutodetect)->setChecked(true);
  mode_->setCurrentIndex(0);
}

void CPageConnect::OnSetActive() {
  Sheet().EnableButton(kButtonBack, false);
  Sheet().EnableButton(kButtonNext, true);
  Sheet().EnableButton(kButtonCancel, true);
  Sheet().SetButtonText(kButtonBack, QStringLiteral("< Back"));
  Sheet().SetButtonText(kButtonNext, QStringLiteral("Connect"));
  Sheet().SetButtonText(kButtonCancel, QStringLiteral("Exit"));
  status_->hide();
  log_->hide();
}

int CPageConnect::OnWizardNext() {
  CUpgradeContext* context = Sheet().Context();
  if (context == nullptr) return kStayOnPage;
  if (context->State.load() == Connecting) {
    // The worker fails and the sheet relabels the button; until then it shows that
    // the request was taken.
    if (RequestCancel()) {
      Sheet().EnableButton(kButtonNext, false);
      Sheet().SetButtonText(kButtonNext, QString::fromUtf8(kCancellingText));
    }
    return kStayOnPage;
  }
  Sheet().SetButtonText(kButtonNext, QStringLiteral("Cancel"));
  SerialSettings& serial = GetSerialSettings();
  if (port_->currentIndex() >= 0) serial.Port = port_->currentIndex() + 1;
  if (baud_->currentIndex() >= 0) serial.Baud = baud_->currentText().toInt();
  if (parity_->currentIndex() >= 0 && parity_->currentIndex() < 5) {
    serial.Parity = kParityCodes[parity_->currentIndex()];
  }
  if (mode_->currentIndex() >= 0) context->Mode = mode_->currentIndex();
  if (tool_->checkedId() >= kIdAutodetect) context->StbTool = tool_->checkedId() - kIdAutodetect;
  status_->clear();
  status_->show();
  log_->clear();
  log_->show();
  StartConnect();
  return kStayOnPage;
}

void CPageConnect::OnWizardCancel() {
  Sheet().SendCloseRequest();
}

void CPageConnect::ShowEndedRun(const QString& status, const QString& log) {
  status_->setText(status);
  status_->show();
  log_->clear();
  AppendLogText(log_, log);
  log_->show();
}

void CPageConnect::AppendToLog(const QString& text) {
  AppendLogText(log_, text);
}

bool CPageConnect::event(QEvent* event) {
  WorkerEvent* notification = WorkerEvent::From(event);
  if (notification == nullptr) return CWizardPage::event(event);
  // The block is released with the event, shown or not.
  switch (notification->Message()) {
    case WM_WORKER_STATUS:
      status_->setText(notification->Text());
      AppendToLog(notification->Text() + QStringLiteral("\r\n"));
      break;
    case WM_WORKER_LOG:
      AppendToLog(notification->Text());
      break;
    default:
      break;
  }
  return true;
}

}  // namespace stb
