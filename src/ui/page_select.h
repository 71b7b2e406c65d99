// Select page (dialog 108): the rows that can be transferred, a file for each, and
// Next that starts the dump or upgrade.
#pragma once

#include <vector>

#include "operations/file_choice.h"
#include "ui/wizard_sheet.h"

class QLabel;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;

namespace stb {

class IDialogs;

inline constexpr int kIdOperateLabel = 1025;
inline constexpr int kIdChunkList = 1007;
// Menu 135, pop-up "Pop_List".
inline constexpr int kCmdOpenFile = 32771;
inline constexpr int kCmdCancelSelect = 32772;

class CPageSelect final : public CWizardPage {
  Q_OBJECT

 public:
  CPageSelect(IWizardSheet& sheet, IDialogs& dialogs, QWidget* parent = nullptr);

  void OnSetActive() override;
  int OnWizardNext() override;
  int OnWizardBack() override { return kPageConnect; }

  // The first selected row, or -1.
  int SelectedRow() const;
  int RowCount() const;
  int RowKey(int row) const;
  int FirstChosenRowKey() const;
  // Asks for a file for the row and stores an accepted one; 1 when stored.
  int ChooseFileForRow(int row);
  // set shows the row's stored choice (an "Allcode" choice clears all others);
  // clear removes it.
  void UpdateRowChoice(int row, bool set);
  void ClearAllRowChoices();
  bool HasAnySelection() const;
  // The commands of menu 135 for the selected row.
  void OnCommand(int command);

 protected:
  void OnInitDialog() override;
  bool event(QEvent* event) override;

 private:
  void AddRow(const QString& text, int key);
  void OnDoubleClick();
  void OnContextMenu(const QPoint& pos);
  std::vector<RowKeyChoice> RowChoices() const;
  QTreeWidgetItem* Row(int row) const;

  IDialogs& dialogs_;
  QLabel* operate_;
  QTreeWidget* list_;
};

}  // namespace stb
