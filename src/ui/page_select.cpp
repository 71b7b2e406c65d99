#include "ui/page_select.h"

#include <QCursor>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QTreeWidget>

#include "context/upgrade_context.h"
#include "image/chunk_table.h"
#include "operations/chunk_text.h"
#include "operations/operation_worker.h"
#include "ui/artwork.h"
#include "ui/dialog_units.h"
#include "ui/dialogs.h"
#include "ui/worker_event.h"

namespace stb {

namespace {
constexpr int kKeyRole = Qt::UserRole;
constexpr int kItemColumn = 0;
constexpr int kFileColumn = 1;

// The Selections entry of a row key, or null for a key without one (chunks beyond
// the context's 14, which are listed but take no file).
ChunkSelection* EntryForKey(CUpgradeContext* context, int key) {
  if (context == nullptr || key < kAllcodeNoBootKey || key + 2 >= kSelectionCount) return nullptr;
  return &context->Selections[key + 2];
}

uint32_t TableChunkCount() {
  return std::min<uint32_t>(GetTargetChunkTable().chunkCount, kMaxTableChunks);
}
}  // namespace

CPageSelect::CPageSelect(IWizardSheet& sheet, IDialogs& dialogs, QWidget* parent)
    : CWizardPage(sheet, parent), dialogs_(dialogs) {
  setFont(DialogFont());
  const DialogUnits du(font());
  setFixedSize(du.X(340), du.Y(193));

  operate_ = new QLabel(QStringLiteral("Operate: Upgrade"), this);
  SetControlId(operate_, kIdOperateLabel);
  operate_->setGeometry(du.Rect(8, 5, 201, 8));

  list_ = new QTreeWidget(this);
  SetControlId(list_, kIdChunkList);
  list_->setGeometry(du.Rect(8, 18, 201, 168));
  list_->setColumnCount(2);
  list_->setHeaderHidden(true);
  list_->setRootIsDecorated(false);
  list_->setUniformRowHeights(true);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setSelectionBehavior(QAbstractItemView::SelectRows);
  list_->setAllColumnsShowFocus(true);
  list_->setIconSize(QSize(16, 16));
  list_->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
  list_->header()->setStretchLastSection(false);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  // The selection stays visible when the list loses the focus.
  QPalette palette = list_->palette();
  palette.setColor(QPalette::Inactive, QPalette::Highlight,
                   palette.color(QPalette::Active, QPalette::Highlight));
  palette.setColor(QPalette::Inactive, QPalette::HighlightedText,
                   palette.color(QPalette::Active, QPalette::HighlightedText));
  list_->setPalette(palette);
  connect(list_, &QTreeWidget::itemDoubleClicked, this, [this] { OnDoubleClick(); });
  connect(list_, &QTreeWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { OnContextMenu(pos); });

  CreatePictureControl(kBitmapSelect, this)->setGeometry(du.Rect(225, 0, 114, 193));
}

void CPageSelect::OnInitDialog() {
  list_->setHeaderLabels({QStringLiteral("Item"), QStringLiteral("File")});
  list_->setColumnWidth(kItemColumn, 170);
  list_->setColumnWidth(kFileColumn, 300);
}

void CPageSelect::OnSetActive() {
  Sheet().EnableButton(kButtonBack, true);
  Sheet().EnableButton(kButtonNext, false);
  Sheet().EnableButton(kButtonCancel, true);
  Sheet().SetButtonText(kButtonBack, QStringLiteral("< Back"));
  Sheet().SetButtonText(kButtonNext, QStringLiteral("Next >"));
  Sheet().SetButtonText(kButtonCancel, QStringLiteral("Exit"));
  CUpgradeContext* context = Sheet().Context();
  if (context == nullptr) return;
  const bool upgrade = context->Mode == 0;
  operate_->setText(QStringLiteral("Operate:") +
                    (upgrade ? QStringLiteral(" Upgrade") : QStringLiteral(" Dump")));
  const TargetChunkTable& table = GetTargetChunkTable();
  const uint32_t count = TableChunkCount();
  ResetSelections(count);
  list_->clear();
  AddRow(QString::fromUtf8(kAllcodeLabel), kAllcodeKey);
  if (upgrade) AddRow(QString::fromUtf8(kAllcodeNoBootLabel), kAllcodeNoBootKey);
  for (uint32_t i = 0; i < count; ++i) {
    if (table.chunks[i].masked != 0) continue;  // row numbers and keys part here
    AddRow(QString::fromStdString(ChunkText(table.chunks[i].name)), static_cast<int>(i));
  }
}

void CPageSelect::AddRow(const QString& text, int key) {
  auto* item = new QTreeWidgetItem(list_);
  item->setText(kItemColumn, text);
  item->setData(kItemColumn, kKeyRole, key);
  item->setIcon(kItemColumn, RowPicture(0));
  if (key >= kMaxSelectableChunks) {
    // Selections has room for 14 chunks: this one goes to the box only with an
    // "Allcode" image.
    item->setFlags(Qt::NoItemFlags);
    item->setToolTip(kItemColumn, QStringLiteral("No file choice: only 14 chunks take a file"));
  }
}

QTreeWidgetItem* CPageSelect::Row(int row) const {
  return row >= 0 && row < list_->topLevelItemCount() ? list_->topLevelItem(row) : nullptr;
}

int CPageSelect::RowCount() const {
  return list_->topLevelItemCount();
}

int CPageSelect::RowKey(int row) const {
  const QTreeWidgetItem* item = Row(row);
  return item != nullptr ? item->data(kItemColumn, kKeyRole).toInt() : 0;
}

int CPageSelect::SelectedRow() const {
  for (int row = 0; row < list_->topLevelItemCount(); ++row)
    if (list_->topLevelItem(row)->isSelected()) return row;
  return -1;
}

std::vector<RowKeyChoice> CPageSelect::RowChoices() const {
  std::vector<RowKeyChoice> rows;
  for (int row = 0; row < list_->topLevelItemCount(); ++row) {
    const QTreeWidgetItem* item = list_->topLevelItem(row);
    rows.push_back({RowKey(row), !item->text(kFileColumn).isEmpty()});
  }
  return rows;
}

int CPageSelect::FirstChosenRowKey() const {
  return stb::FirstChosenRowKey(RowChoices());
}

int CPageSelect::ChooseFileForRow(int row) {
  if (Row(row) == nullptr) return 0;
  CUpgradeContext* context = Sheet().Context();
  const int key = RowKey(row);
  if (EntryForKey(context, key) == nullptr) return 0;
  // While an "Allcode" row holds a file no other row takes one: refused silently.
  if (!RowAcceptsChoice(FirstChosenRowKey(), key)) return 0;
  const uint32_t id = key >= 0 ? GetTargetChunkTable().chunks[key].id : 0;
  const FileFilter types = FileFilterForChunk(id);
  const QString filter = QtFilterFromPairs(QString::fromStdString(types.filter));
  const QString suffix = QString::fromStdString(types.extension);
  const int32_t mode = context->Mode;
  const QString path =
      mode == 0 ? dialogs_.OpenFile(this, filter, suffix) : dialogs_.SaveFile(this, filter, suffix);
  if (path.isEmpty()) return 0;
  // The dialog may have run a nested event loop: take the context anew.
  if (Sheet().Context() == nullptr) return 0;
  const std::string file = QFile::encodeName(path).toStdString();
  FileChoiceResult result = ChooseFileForKey(key, file, mode);
  if (result.verdict == FileVerdict::InvalidImage) {
    // A whole image goes to the box as it stands: sent broken, it leaves a box that
    // no longer starts. Only an explicit Yes sends it; No leaves the row as it was.
    const QString question = path + QLatin1Char('\n') + QString::fromStdString(result.message) +
                             QLatin1Char('\n') + QString::fromUtf8(kMsgSendAnyway);
    if (!dialogs_.AskYesNo(this, question)) return 0;
    if (Sheet().Context() == nullptr) return 0;  // the question ran a nested event loop
    result = ChooseFileForKey(key, file, mode, true);
  }
  switch (result.verdict) {
    case FileVerdict::Accepted:
      return 1;
    case FileVerdict::RefusedWarning:
      dialogs_.ShowMessage(this, MessageIcon::Warning, QString::fromStdString(result.message));
      return 0;
    case FileVerdict::RefusedError:
      dialogs_.ShowMessage(this, MessageIcon::Error, QString::fromStdString(result.message));
      return 0;
    case FileVerdict::RefusedSilent:
    case FileVerdict::InvalidImage:
      break;
  }
  return 0;
}

void CPageSelect::UpdateRowChoice(int row, bool set) {
  QTreeWidgetItem* item = Row(row);
  const int key = RowKey(row);
  ChunkSelection* entry = EntryForKey(Sheet().Context(), key);
  if (item == nullptr || entry == nullptr) return;
  QString text;
  if (set) {
    const std::string chosen = entry->FileName;
    if (key < 0) {
      // An "Allcode" image stands alone: every other choice goes.
      ClearAllRowChoices();
      entry->FileName = chosen;
    }
    text = QFile::decodeName(QByteArray::fromStdString(chosen));
  } else if (!entry->FileName.empty()) {
    entry->FileName.clear();
    entry->FileOffset = 0;
    entry->FileLength = 0;
  }
  item->setText(kFileColumn, text);
  item->setIcon(kItemColumn, RowPicture(set ? 1 : 0));
  Sheet().EnableButton(kButtonNext, HasAnySelection());
}

void CPageSelect::ClearAllRowChoices() {
  CUpgradeContext* context = Sheet().Context();
  for (int row = 0; row < list_->topLevelItemCount(); ++row) {
    QTreeWidgetItem* item = list_->topLevelItem(row);
    if (item->text(kFileColumn).isEmpty()) continue;
    item->setIcon(kItemColumn, RowPicture(0));
    item->setText(kFileColumn, QString());
    if (ChunkSelection* entry = EntryForKey(context, RowKey(row))) {
      entry->FileName.clear();
      entry->FileOffset = 0;
      entry->FileLength = 0;
    }
  }
  list_->viewport()->repaint();
}

bool CPageSelect::HasAnySelection() const {
  CUpgradeContext* context = Sheet().Context();
  if (context == nullptr) return false;
  // The table may hold 16 chunks; Selections has 16 entries in all.
  const int entries = std::min<int>(static_cast<int>(TableChunkCount()) + 2, kSelectionCount);
  for (int i = 0; i < entries; ++i)
    if (!context->Selections[i].FileName.empty()) return true;
  return false;
}

int CPageSelect::OnWizardNext() {
  if (!HasAnySelection()) {
    dialogs_.ShowMessage(this, MessageIcon::None, QString::fromUtf8(kMsgPleaseSelect));
    return kStayOnPage;
  }
  // A worker that is still winding down refuses the start: stay rather than show
  // a process page that waits for nothing.
  if (StartOperation() == 0) return kStayOnPage;
  return kPageProcess;
}

void CPageSelect::OnDoubleClick() {
  const int row = SelectedRow();
  if (ChooseFileForRow(row) != 0) UpdateRowChoice(row, true);
}

void CPageSelect::OnContextMenu(const QPoint&) {
  if (SelectedRow() < 0) return;
  QMenu menu(this);
  menu.addAction(QStringLiteral("Open File"))->setData(kCmdOpenFile);
  menu.addAction(QStringLiteral("Cancel Select"))->setData(kCmdCancelSelect);
  if (QAction* chosen = dialogs_.PopupMenu(menu, QCursor::pos())) OnCommand(chosen->data().toInt());
}

void CPageSelect::OnCommand(int command) {
  if (command == kCmdOpenFile) {
    OnDoubleClick();
  } else if (command == kCmdCancelSelect) {
    const int row = SelectedRow();
    if (row >= 0) UpdateRowChoice(row, false);
  }
}

bool CPageSelect::event(QEvent* event) {
  // The page shows no notification; its block is released with the event and it
  // goes no further.
  if (WorkerEvent::From(event) != nullptr) return true;
  return CWizardPage::event(event);
}

}  // namespace stb
