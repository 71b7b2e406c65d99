#include "ui/dialogs.h"

#include <QCoreApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QMenu>
#include <QMessageBox>
#include <QStringList>

namespace stb {

namespace {
QMessageBox::Icon ToQtIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Warning:
      return QMessageBox::Warning;
    case MessageIcon::Error:
      return QMessageBox::Critical;
    case MessageIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

QString RunFileDialog(QWidget* owner, QFileDialog::AcceptMode mode, const QString& filter,
                      const QString& defaultSuffix) {
  QFileDialog dialog(owner, ApplicationName());
  dialog.setAcceptMode(mode);
  dialog.setFileMode(mode == QFileDialog::AcceptOpen ? QFileDialog::ExistingFile
                                                     : QFileDialog::AnyFile);
  dialog.setNameFilter(filter);
  dialog.setDefaultSuffix(defaultSuffix);
  // The overwrite question of the save dialog stays on (the default).
  if (dialog.exec() != QDialog::Accepted) return QString();
  const QStringList files = dialog.selectedFiles();
  return files.isEmpty() ? QString() : QFileInfo(files.first()).absoluteFilePath();
}
}  // namespace

void CQtDialogs::ShowMessage(QWidget* owner, MessageIcon icon, const QString& text) {
  QMessageBox box(ToQtIcon(icon), ApplicationName(), text, QMessageBox::Ok, owner);
  box.exec();
}

bool CQtDialogs::AskYesNo(QWidget* owner, const QString& text) {
  QMessageBox box(QMessageBox::Warning, ApplicationName(), text, QMessageBox::Yes | QMessageBox::No,
                  owner);
  box.setDefaultButton(QMessageBox::No);
  box.setEscapeButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

QString CQtDialogs::OpenFile(QWidget* owner, const QString& filter, const QString& defaultSuffix) {
  return RunFileDialog(owner, QFileDialog::AcceptOpen, filter, defaultSuffix);
}

QString CQtDialogs::SaveFile(QWidget* owner, const QString& filter, const QString& defaultSuffix) {
  return RunFileDialog(owner, QFileDialog::AcceptSave, filter, defaultSuffix);
}

QAction* CQtDialogs::PopupMenu(QMenu& menu, const QPoint& globalPos) {
  return menu.exec(globalPos);
}

QString ApplicationName() {
  return QFileInfo(QCoreApplication::applicationFilePath()).completeBaseName();
}

QString QtFilterFromPairs(const QString& pairs) {
  const QStringList parts = pairs.split(QLatin1Char('|'));
  QStringList filters;
  // Every part is followed by '|', so the last piece of the split is empty.
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString description = parts[i].trimmed();
    QStringList patterns = parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (QString& pattern : patterns) pattern = pattern.trimmed();
    patterns.removeAll(QString());
    if (patterns.isEmpty()) continue;
    const QString joined = patterns.join(QLatin1Char(' '));
    if (description.endsWith(QLatin1Char('(') + joined + QLatin1Char(')')) ||
        description.endsWith(QLatin1Char('(') + patterns.join(QLatin1Char(';')) +
                             QLatin1Char(')'))) {
      // Qt reads the patterns from the parentheses at the end.
      QString kept = description;
      kept.chop(patterns.join(QLatin1Char(';')).size() + 2);
      filters << kept + QLatin1Char('(') + joined + QLatin1Char(')');
    } else {
      filters << (description.isEmpty()
                      ? joined
                      : description + QStringLiteral(" (") + joined + QLatin1Char(')'));
    }
  }
  return filters.join(QStringLiteral(";;"));
}

}  // namespace stb
