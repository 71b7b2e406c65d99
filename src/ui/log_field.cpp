#include "ui/log_field.h"

#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>

namespace stb {

QPlainTextEdit* CreateLogField(QWidget* parent, bool horizontalScroll) {
  auto* log = new QPlainTextEdit(parent);
  log->setReadOnly(true);
  log->setFrameShape(QFrame::StyledPanel);
  log->setLineWrapMode(horizontalScroll ? QPlainTextEdit::NoWrap : QPlainTextEdit::WidgetWidth);
  log->setVerticalScrollBarPolicy(horizontalScroll ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAsNeeded);
  log->setHorizontalScrollBarPolicy(horizontalScroll ? Qt::ScrollBarAlwaysOn
                                                     : Qt::ScrollBarAlwaysOff);
  log->setFocusPolicy(Qt::NoFocus);
  return log;
}

void AppendLogText(QPlainTextEdit* log, const QString& text) {
  QString plain = text;
  plain.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  plain.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  // Appending at the end is what reading the whole content and writing it back
  // does, without copying a long log for every line.
  QTextCursor cursor(log->document());
  cursor.movePosition(QTextCursor::End);
  cursor.insertText(plain);
  log->verticalScrollBar()->setValue(log->verticalScrollBar()->maximum());
}

}  // namespace stb
