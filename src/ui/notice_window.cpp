#include "ui/notice_window.h"

#include <QLabel>
#include <QPalette>

#include "ui/dialog_units.h"

namespace stb {

CNoticeWindow::CNoticeWindow(QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
  // The window and its text are painted with one solid colour.
  QPalette palette = this->palette();
  const QColor background(155, 250, 50);
  palette.setColor(QPalette::Window, background);
  palette.setColor(QPalette::Base, background);
  palette.setColor(QPalette::WindowText, Qt::black);
  setPalette(palette);
  setAutoFillBackground(true);
  setFont(DialogFont());

  const DialogUnits du(font());
  setFixedSize(du.X(222), du.Y(30));
  auto* text = new QLabel(QString::fromUtf8(kWaitNoticeText), this);
  text->setAutoFillBackground(true);
  text->setPalette(palette);
  text->move(du.X(12), du.Y(11));
  text->resize(du.X(222 - 24), du.Y(10));
}

void CNoticeWindow::CentreOnOwner() {
  const QWidget* owner = parentWidget();
  if (owner == nullptr) return;
  const QPoint centre = owner->mapToGlobal(owner->rect().center());
  move(centre - QPoint(width() / 2, height() / 2));
}

}  // namespace stb
