#include <QKeyEvent>

#include "ui/wizard_sheet.h"

namespace stb {

CWizardPage::CWizardPage(IWizardSheet& sheet, QWidget* parent) : QWidget(parent), sheet_(sheet) {}

void CWizardPage::EnsureInitialised() {
  if (initialised_) return;
  initialised_ = true;
  OnInitDialog();
}

bool CWizardPage::PreTranslate(QEvent* event) {
  if (event->type() != QEvent::KeyPress) return false;
  if (static_cast<QKeyEvent*>(event)->key() != Qt::Key_Escape) return false;
  sheet_.PostCloseRequest();
  return true;
}

}  // namespace stb
