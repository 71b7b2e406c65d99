#include "ui/dialog_units.h"

#include <QApplication>
#include <QFontMetrics>
#include <QVariant>
#include <QWidget>

namespace stb {

namespace {
constexpr const char* kControlIdProperty = "stbControlId";

int MulDivRounded(int value, int numerator, int denominator) {
  const long long product = static_cast<long long>(value) * numerator;
  const long long half = denominator / 2;
  return static_cast<int>(product >= 0 ? (product + half) / denominator
                                       : -((-product + half) / denominator));
}
}  // namespace

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  const int alphabet = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  baseX_ = (alphabet / 26 + 1) / 2;
  baseY_ = metrics.height();
  if (baseX_ < 1) baseX_ = 1;
  if (baseY_ < 1) baseY_ = 1;
}

int DialogUnits::X(int du) const {
  return MulDivRounded(du, baseX_, 4);
}
int DialogUnits::Y(int du) const {
  return MulDivRounded(du, baseY_, 8);
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
  return QRect(X(x), Y(y), X(width), Y(height));
}

QFont DialogFont() {
  // The templates were drawn for a small sans-serif face; the system's own sans
  // face at that size keeps the layout and reads well.
  QFont font = QApplication::font();
  font.setPointSizeF(8.5);
  return font;
}

void SetControlId(QWidget* widget, int id) {
  widget->setProperty(kControlIdProperty, id);
}

int ControlId(const QWidget* widget) {
  const QVariant id = widget->property(kControlIdProperty);
  return id.isValid() ? id.toInt() : 0;
}

QWidget* FindControl(const QWidget* root, int id) {
  if (root == nullptr) return nullptr;
  const QList<QWidget*> children = root->findChildren<QWidget*>();
  for (QWidget* child : children)
    if (ControlId(child) == id) return child;
  return nullptr;
}

}  // namespace stb
