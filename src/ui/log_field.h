// The read-only log fields of the pages.
#pragma once

#include <QString>

class QPlainTextEdit;
class QWidget;

namespace stb {

QPlainTextEdit* CreateLogField(QWidget* parent, bool horizontalScroll);
// Appends text at the end as it stands; the workers' "\r\n" become line breaks.
void AppendLogText(QPlainTextEdit* log, const QString& text);

}  // namespace stb
