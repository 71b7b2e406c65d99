// The wizard's modal dialogs behind one seam: message boxes, file dialogs and the
// pop-up menu. The application uses the Qt dialogs; tests put in answers of their
// own, so no test ever blocks on a modal window.
#pragma once

#include <QPoint>
#include <QString>

class QAction;
class QMenu;
class QWidget;

namespace stb {

enum class MessageIcon { None, Warning, Error };

class IDialogs {
 public:
  virtual ~IDialogs() = default;
  // A box with an OK button, titled with the application's name; returns when closed.
  virtual void ShowMessage(QWidget* owner, MessageIcon icon, const QString& text) = 0;
  // A question with Yes and No, titled with the application's name; No is the
  // default, so Enter never says yes by accident. True for Yes.
  virtual bool AskYesNo(QWidget* owner, const QString& text) = 0;
  // A single file; empty when the user cancels. filter is a Qt filter string.
  virtual QString OpenFile(QWidget* owner, const QString& filter, const QString& defaultSuffix) = 0;
  // Asks before an existing file is replaced; empty when the user cancels.
  virtual QString SaveFile(QWidget* owner, const QString& filter, const QString& defaultSuffix) = 0;
  // The chosen command, or null when the menu was dismissed.
  virtual QAction* PopupMenu(QMenu& menu, const QPoint& globalPos) = 0;
};

class CQtDialogs final : public IDialogs {
 public:
  void ShowMessage(QWidget* owner, MessageIcon icon, const QString& text) override;
  bool AskYesNo(QWidget* owner, const QString& text) override;
  QString OpenFile(QWidget* owner, const QString& filter, const QString& defaultSuffix) override;
  QString SaveFile(QWidget* owner, const QString& filter, const QString& defaultSuffix) override;
  QAction* PopupMenu(QMenu& menu, const QPoint& globalPos) override;
};

// The executable's file name without its extension: the title of every box.
QString ApplicationName();

// "desc|pattern;pattern|...|" (every part followed by '|') as a Qt filter string,
// "desc (pattern pattern);;...". A description that already ends in its patterns
// in parentheses is kept as it stands. A description without a pattern is dropped.
QString QtFilterFromPairs(const QString& pairs);

}  // namespace stb
